// Synthetic key presses through XTEST.
#include "Platform/X11/X11FakeInput.h"

#include "Platform/X11/X11KeyCodes.h"

#include <xcb/xtest.h>

namespace vantrel::X11FakeInput {

bool isAvailable(X11Connection& connection)
{
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(connection.raw(), &xcb_test_id);
    return extension && extension->present;
}

bool key(X11Connection& connection, std::uint16_t carbonKeyCode, bool press)
{
    auto keyCode = X11KeyCodes::xKeyCodeFromCarbon(carbonKeyCode);
    if (!keyCode)
        return false;
    xcb_test_fake_input(connection.raw(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, *keyCode, XCB_CURRENT_TIME,
                        XCB_NONE, 0, 0, 0);
    return connection.flush();
}

} // namespace vantrel::X11FakeInput
