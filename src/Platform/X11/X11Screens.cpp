// The displays: RandR monitors, or the whole screen without RandR.
#include "Platform/X11/X11Screens.h"

#include "Platform/X11/X11Properties.h"

#include <xcb/randr.h>

#include <algorithm>

namespace vantrel {

std::vector<X11Monitor> readMonitors(X11Connection& connection)
{
    if (!connection.isOpen())
        return {};
    std::vector<X11Monitor> result;
    auto* c = connection.raw();
    if (connection.hasMonitors()) {
        connection.noteRoundTrip();
        XcbPtr<xcb_randr_get_monitors_reply_t> reply(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, connection.root(), 1), nullptr));
        if (reply) {
            std::vector<xcb_get_atom_name_cookie_t> names;
            for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem; xcb_randr_monitor_info_next(&it)) {
                const auto* m = it.data;
                result.push_back({{}, m->x, m->y, m->width, m->height, m->primary != 0});
                names.push_back(xcb_get_atom_name(c, m->name));
            }
            connection.noteRoundTrip();
            for (std::size_t i = 0; i < names.size(); ++i) {
                XcbPtr<xcb_get_atom_name_reply_t> name(xcb_get_atom_name_reply(c, names[i], nullptr));
                // Atom names are ISO 8859-1, as the protocol has them.
                if (name)
                    result[i].name = latin1ToUtf8(std::string_view(
                        xcb_get_atom_name_name(name.get()), static_cast<std::size_t>(xcb_get_atom_name_name_length(name.get()))));
                if (result[i].name.empty())
                    result[i].name = "monitor-" + std::to_string(i);
            }
            std::stable_partition(result.begin(), result.end(), [](const X11Monitor& m) { return m.primary; });
        }
    }
    if (result.empty()) {
        const auto& screen = connection.screen();
        result.push_back({"screen", 0, 0, screen.width_in_pixels, screen.height_in_pixels, true});
    }
    return result;
}

} // namespace vantrel
