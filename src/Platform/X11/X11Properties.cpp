// Bounded, type-checked reading of window properties; text repair.
#include "Platform/X11/X11Properties.h"

#include "Runtime/Utf8Repair.h"

#include <algorithm>

namespace vantrel {

xcb_get_property_cookie_t requestProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                                          std::uint32_t maxBytes)
{
    return xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, (maxBytes + 3) / 4);
}

XcbPtr<xcb_get_property_reply_t> takeProperty(xcb_connection_t* connection, xcb_get_property_cookie_t cookie,
                                              bool* windowVanished)
{
    xcb_generic_error_t* rawError = nullptr;
    XcbPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, &rawError));
    XcbPtr<xcb_generic_error_t> error(rawError);
    if (error && windowVanished && error->error_code == XCB_WINDOW)
        *windowVanished = true;
    if (!reply || reply->type == XCB_ATOM_NONE)
        return nullptr;
    return reply;
}

std::optional<std::vector<std::uint32_t>> cardinals(const xcb_get_property_reply_t* reply,
                                                    std::initializer_list<xcb_atom_t> types)
{
    if (!reply || reply->format != 32 || std::find(types.begin(), types.end(), reply->type) == types.end())
        return std::nullopt;
    const auto length = xcb_get_property_value_length(reply);
    if (length < 0 || length % 4 != 0)
        return std::nullopt;
    const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
    return std::vector<std::uint32_t>(values, values + length / 4);
}

std::optional<std::uint32_t> firstCardinal(const xcb_get_property_reply_t* reply, std::initializer_list<xcb_atom_t> types)
{
    auto values = cardinals(reply, types);
    if (!values || values->empty())
        return std::nullopt;
    return values->front();
}

std::optional<std::string_view> bytes(const xcb_get_property_reply_t* reply, std::initializer_list<xcb_atom_t> types)
{
    if (!reply || reply->format != 8 || std::find(types.begin(), types.end(), reply->type) == types.end())
        return std::nullopt;
    const auto length = xcb_get_property_value_length(reply);
    if (length < 0)
        return std::nullopt;
    return std::string_view(static_cast<const char*>(xcb_get_property_value(reply)), static_cast<std::size_t>(length));
}

namespace {
/// Appends a piece unless that would exceed `maxBytes`; false when full.
bool append(std::string& out, std::string_view piece, std::size_t maxBytes)
{
    if (out.size() + piece.size() > maxBytes)
        return false;
    out.append(piece);
    return true;
}
} // namespace

bool isCut(const xcb_get_property_reply_t* reply) { return reply && reply->bytes_after != 0; }

std::string utf8Text(std::string_view raw, bool cut, std::size_t maxBytes)
{
    auto text = repairedUtf8(cut ? withoutCutCharacter(raw) : raw, maxBytes);
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

std::string latin1ToUtf8(std::string_view text, std::size_t maxBytes)
{
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        char encoded[2];
        std::string_view piece;
        if (c == 0) {
            piece = " ";
        } else if (c < 0x80) {
            encoded[0] = ch;
            piece = std::string_view(encoded, 1);
        } else {
            encoded[0] = static_cast<char>(0xC0 | (c >> 6));
            encoded[1] = static_cast<char>(0x80 | (c & 0x3F));
            piece = std::string_view(encoded, 2);
        }
        if (!append(out, piece, maxBytes))
            break;
    }
    return out;
}

std::vector<std::string> splitStrings(std::string_view raw, bool latin1, bool cut)
{
    std::vector<std::string> result;
    while (!raw.empty()) {
        auto end = raw.find('\0');
        auto piece = raw.substr(0, end);
        result.push_back(latin1 ? latin1ToUtf8(piece) : utf8Text(piece, cut && end == std::string_view::npos));
        if (end == std::string_view::npos)
            break;
        raw.remove_prefix(end + 1);
    }
    return result;
}

} // namespace vantrel
