// A picture of the whole screen, read from the X server, without xcb types.
#include "Platform/X11/X11Capture.h"

#include "Platform/X11/X11Connection.h"

#include <cstring>

namespace vantrel {

std::optional<ScreenPixels> captureScreen(const std::string& display)
{
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(c, xcb_disconnect);
    if (xcb_connection_has_error(c))
        return std::nullopt;
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem || screens.data->root_depth < 24)
        return std::nullopt;
    const xcb_screen_t& screen = *screens.data;
    XcbPtr<xcb_get_image_reply_t> image(xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen.root, 0, 0, screen.width_in_pixels,
                         screen.height_in_pixels, ~0u),
        nullptr));
    const std::size_t pixels = std::size_t(screen.width_in_pixels) * screen.height_in_pixels;
    if (!image || std::size_t(xcb_get_image_data_length(image.get())) < pixels * 4)
        return std::nullopt;
    ScreenPixels result;
    result.width = screen.width_in_pixels;
    result.height = screen.height_in_pixels;
    result.argb.resize(pixels);
    std::memcpy(result.argb.data(), xcb_get_image_data(image.get()), pixels * 4);
    // Depth-24 pixels leave the top byte undefined.
    for (auto& pixel : result.argb)
        pixel |= 0xff000000u;
    return result;
}

} // namespace vantrel
