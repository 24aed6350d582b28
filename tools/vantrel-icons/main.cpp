// Writes Vantrel's icons as PNG files in the hicolor layout, for installation: vantrel-icons OUTPUT_DIR.
#include "Vantrel/AppIcons.h"

#include <QDir>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vantrel-icons OUTPUT_DIR\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    using namespace vantrel;
    for (int size : AppIcons::sizes) {
        const QString folder = QString("%1/hicolor/%2x%2/").arg(root).arg(size);
        for (auto [context, name, warning] : {std::tuple{"apps", AppIcons::normalName, false},
                                              std::tuple{"status", AppIcons::warningName, true}}) {
            const QString dir = folder + context;
            if (!QDir().mkpath(dir) || !AppIcons::draw(size, warning).save(dir + "/" + name + ".png")) {
                std::fprintf(stderr, "vantrel-icons: cannot write %s\n", qPrintable(dir));
                return 1;
            }
        }
    }
    return 0;
}
