// vantrelctl screenshot: saves what the X server shows as a PNG file.
#include "Command.h"

#if VANTRELCTL_HAS_PLATFORMX11
#include "Platform/X11/X11Capture.h"

#include <QImage>
#endif

#include <iostream>

namespace vantrelctl {
namespace {

int runScreenshot(Args args)
{
    if (args.size() != 1) {
        std::cerr << "usage: vantrelctl screenshot FILE.png\n";
        return 2;
    }
#if VANTRELCTL_HAS_PLATFORMX11
    auto pixels = vantrel::captureScreen({});
    if (!pixels) {
        std::cerr << "vantrelctl screenshot: cannot read the screen of $DISPLAY\n";
        return 1;
    }
    QImage image(reinterpret_cast<const uchar*>(pixels->argb.data()), pixels->width, pixels->height,
                 QImage::Format_ARGB32);
    if (!image.save(QString::fromStdString(args[0]), "PNG")) {
        std::cerr << "vantrelctl screenshot: cannot write " << args[0] << "\n";
        return 1;
    }
    return 0;
#else
    std::cerr << "vantrelctl screenshot: this build has no X11 backend\n";
    return 1;
#endif
}

const Registration registration{{
    "screenshot",
    "save the X screen as a PNG file",
    "usage: vantrelctl screenshot FILE.png\n"
    "Reads the root window of $DISPLAY from the X server and writes it as PNG.\n",
    runScreenshot,
}};

} // namespace
} // namespace vantrelctl
