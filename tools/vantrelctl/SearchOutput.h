// JSON output shared by the `score` and `rank` subcommands.
#pragma once

#include "SearchKit/SearchScorer.h"
#include "SearchKit/TextUnicode.h"

#include <algorithm>
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

/// Appends a JSON string; ill-formed UTF-8 becomes U+FFFD. The text goes in
/// whole and is escaped from its first byte that needs it, if any: window
/// titles seldom hold a quote, a backslash or a control character.
inline void appendString(std::string& out, std::string_view text)
{
    out.push_back('"');
    const std::size_t start = out.size();
    vantrel::TextUnicode::appendSanitizedUtf8(text, out);
    auto needsEscape = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\'; };
    const auto first = std::find_if(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), needsEscape);
    if (first != out.end()) {
        const std::string rest(first, out.end());
        out.erase(first, out.end());
        static const char hex[] = "0123456789abcdef";
        for (char c : rest) {
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
                if (const auto byte = static_cast<unsigned char>(c); byte < 0x20) {
                    out += "\\u00";
                    out.push_back(hex[byte >> 4]);
                    out.push_back(hex[byte & 15]);
                } else {
                    out.push_back(c);
                }
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
        char buffer[16];
        char* at = buffer;
        if (i > 0) {
            *at++ = ',';
            *at++ = ' ';
        }
        at = std::to_chars(at, buffer + sizeof buffer, match.positions[i]).ptr;
        out.append(buffer, at);
    }
    out.push_back(']');
}

} // namespace vantrelctl
