// JSON output shared by the `score` and `rank` subcommands.
#pragma once

#include "SearchKit/SearchScorer.h"
#include "SearchKit/TextUnicode.h"
#include "Runtime/Utf8Repair.h"

#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace vantrelctl {

/// Appends a score as a JSON value: the shortest text that reads back as the
/// same double, or "inf"/"-inf"/"nan" as strings (JSON has no such numbers).
inline void appendScore(std::string& out, double score)
{
    if (std::isinf(score)) {
        out += score > 0 ? "\"inf\"" : "\"-inf\"";
        return;
    }
    if (std::isnan(score)) {
        out += "\"nan\"";
        return;
    }
    char buffer[32];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, score);
    out.append(buffer, end);
}

/// Appends a JSON string; ill-formed UTF-8 becomes U+FFFD.
inline void appendString(std::string& out, std::string_view text)
{
    std::string repaired;
    if (!vantrel::TextUnicode::isAscii(text)) {
        repaired = vantrel::repairedUtf8(text);
        text = repaired;
    }
    static const char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out.push_back(hex[byte >> 4]);
                out.push_back(hex[byte & 15]);
            } else {
                out.push_back(c);
            }
        }
    }
    out.push_back('"');
}

/// Appends `"score": S, "positions": [..]` (no braces).
inline void appendMatchFields(std::string& out, const vantrel::SearchScorer::Match& match)
{
    out += "\"score\": ";
    appendScore(out, match.score);
    out += ", \"positions\": [";
    for (std::size_t i = 0; i < match.positions.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += std::to_string(match.positions[i]);
    }
    out.push_back(']');
}

} // namespace vantrelctl
