// Well-formed UTF-8 from untrusted bytes: the one repair every text from outside goes through.
//
// Window properties, desktop entries, file names and piped text reach us as
// bytes. Everything downstream (JSON output, the stored files, the panels)
// relies on well-formed UTF-8, so each source repairs here, the same way.
#include "Runtime/Utf8Repair.h"

#include <algorithm>
#include <cstdint>

namespace vantrel {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

/// The sequence starting at a byte: how many bytes it spans, and whether they
/// make a whole character. An incomplete one spans its longest well-formed
/// prefix (at least one byte): that is the maximal subpart one U+FFFD stands for.
struct Sequence {
    std::size_t length;
    bool whole;
};

Sequence sequenceAt(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t lead = byte(i);
    if (lead < 0x80)
        return {1, true};
    // The ranges of Unicode's table of well-formed byte sequences: only the
    // second byte's range depends on the lead.
    std::size_t length = 0;
    std::uint8_t low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;   // overlong
        high = lead == 0xED ? 0x9F : high; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;   // overlong
        high = lead == 0xF4 ? 0x8F : high; // beyond U+10FFFF
    } else {
        return {1, false};
    }
    std::size_t k = 1;
    for (; k < length && i + k < text.size(); ++k) {
        const std::uint8_t b = byte(i + k);
        if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF))
            break;
    }
    return {k, k == length};
}

/// Bytes from the start that are well-formed.
std::size_t wellFormedPrefix(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        if (static_cast<std::uint8_t>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const auto sequence = sequenceAt(text, i);
        if (!sequence.whole)
            break;
        i += sequence.length;
    }
    return i;
}

} // namespace

bool isWellFormedUtf8(std::string_view text)
{
    return wellFormedPrefix(text) == text.size();
}

void appendRepairedUtf8(std::string_view text, std::string& out, std::size_t maxBytes)
{
    std::size_t room = maxBytes;
    for (std::size_t i = 0; i < text.size();) {
        // Well-formed runs, nearly always the whole text, go in one piece.
        const auto valid = wellFormedPrefix(text.substr(i));
        if (valid > 0) {
            auto run = text.substr(i, std::min(valid, room));
            if (run.size() < valid) {
                // Cut on a character boundary.
                std::size_t end = run.size();
                while (end > 0 && (static_cast<std::uint8_t>(text[i + end]) & 0xC0) == 0x80)
                    --end;
                out.append(text.substr(i, end));
                return;
            }
            out.append(run);
            room -= run.size();
            i += valid;
            continue;
        }
        if (room < replacement.size())
            return;
        out.append(replacement);
        room -= replacement.size();
        i += sequenceAt(text, i).length;
    }
}

std::string repairedUtf8(std::string_view text, std::size_t maxBytes)
{
    std::string out;
    out.reserve(std::min(text.size(), maxBytes));
    appendRepairedUtf8(text, out, maxBytes);
    return out;
}

std::string_view withoutCutCharacter(std::string_view text)
{
    // A character has at most three bytes after its lead.
    for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
        const std::size_t start = text.size() - back;
        const auto byte = static_cast<std::uint8_t>(text[start]);
        if ((byte & 0xC0) == 0x80)
            continue;
        const auto sequence = sequenceAt(text, start);
        const bool lead = byte >= 0xC2 && byte <= 0xF4;
        const bool cut = lead && !sequence.whole && start + sequence.length == text.size();
        return cut ? text.substr(0, start) : text;
    }
    return text;
}

} // namespace vantrel
