// Bounded, type-checked reading of window properties; text repair.
#pragma once

#include "Platform/X11/X11Connection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

/// Most text a title may hold, in UTF-8 bytes, after repair.
inline constexpr std::size_t maxTitleBytes = 4096;

/// A GetProperty request that asks for at most `maxBytes` of data, so a hostile
/// client cannot make us copy megabytes. The reply says whether more was left.
xcb_get_property_cookie_t requestProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                                          std::uint32_t maxBytes);

/// Waits for a property reply; null when the window vanished, the connection
/// broke or the property is absent (type None).
XcbPtr<xcb_get_property_reply_t> takeProperty(xcb_connection_t* connection, xcb_get_property_cookie_t cookie,
                                              bool* windowVanished = nullptr);

/// The 32-bit values of a reply whose type is one of `types` and whose format is
/// 32; absent for any other type or format (a hostile property reads as unset).
std::optional<std::vector<std::uint32_t>> cardinals(const xcb_get_property_reply_t* reply,
                                                    std::initializer_list<xcb_atom_t> types);

/// The first 32-bit value, under the same checks.
std::optional<std::uint32_t> firstCardinal(const xcb_get_property_reply_t* reply, std::initializer_list<xcb_atom_t> types);

/// The raw bytes of a format-8 reply of one of `types`; absent otherwise.
std::optional<std::string_view> bytes(const xcb_get_property_reply_t* reply, std::initializer_list<xcb_atom_t> types);

/// Whether the server kept part of the property back (the request's bound cut it).
bool isCut(const xcb_get_property_reply_t* reply);

/// The text of UTF-8 property bytes, at most `maxBytes`: a character the read
/// limit cut in two (`cut`) is left out, ill-formed sequences are repaired
/// (Runtime/Utf8Repair.h), NULs become spaces, and the result ends after
/// the last whole character that fits.
std::string utf8Text(std::string_view raw, bool cut = false, std::size_t maxBytes = maxTitleBytes);

/// ISO 8859-1 (the ICCCM STRING encoding) as UTF-8, cut like `utf8Text`.
std::string latin1ToUtf8(std::string_view text, std::size_t maxBytes = maxTitleBytes);

/// The NUL-separated strings of a STRING/UTF8_STRING list property (WM_CLASS,
/// _NET_DESKTOP_NAMES), each repaired; when the read limit `cut` the property,
/// the last one as `utf8Text` treats a cut text.
std::vector<std::string> splitStrings(std::string_view raw, bool latin1, bool cut = false);

} // namespace vantrel
