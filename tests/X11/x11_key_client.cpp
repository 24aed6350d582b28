// A focused window that reports the keys it receives, for the X11 input tests:
// prints "ready" once its window has the input focus, then "key N" (the X key
// code) for every key press that reaches it.
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection))
        return 1;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY |
                                                             XCB_EVENT_MASK_FOCUS_CHANGE};
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 300, 200, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                      values);
    xcb_map_window(connection, window);
    xcb_flush(connection);
    bool ready = false;
    while (xcb_generic_event_t* event = xcb_wait_for_event(connection)) {
        switch (event->response_type & 0x7f) {
        case XCB_MAP_NOTIFY:
            xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
            xcb_flush(connection);
            break;
        case XCB_FOCUS_IN:
            if (!ready) {
                ready = true;
                std::printf("ready\n");
                std::fflush(stdout);
            }
            break;
        case XCB_KEY_PRESS:
            std::printf("key %u\n", static_cast<unsigned>(reinterpret_cast<xcb_key_press_event_t*>(event)->detail));
            std::fflush(stdout);
            break;
        default:
            break;
        }
        std::free(event);
    }
    return 0;
}
