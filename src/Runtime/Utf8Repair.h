// Well-formed UTF-8 from untrusted bytes: the one repair every text from outside goes through.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

/// Whether `text` is well-formed UTF-8: the repair would leave it as it is.
bool isWellFormedUtf8(std::string_view text);

/// Appends `text` to `out` with every maximal ill-formed subpart replaced by
/// one U+FFFD, the practice the Unicode standard recommends and ICU follows
/// (so "\xE2\x82" is one replacement, "\xC0\xAF" two). At most `maxBytes` are
/// appended, ending after the last whole character that fits.
void appendRepairedUtf8(std::string_view text, std::string& out, std::size_t maxBytes = std::string::npos);

/// `text` repaired as appendRepairedUtf8 does; well-formed text comes back as it is.
std::string repairedUtf8(std::string_view text, std::size_t maxBytes = std::string::npos);

/// `text` without a multi-byte character that a bounded read cut short at its
/// end; anything else, ill-formed or not, stays for the repair to judge.
std::string_view withoutCutCharacter(std::string_view text);

} // namespace vantrel
