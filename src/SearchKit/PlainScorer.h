// The scorer's algorithm as written, with whole tables and no shortcut: the
// reference every kernel of SearchScorer is tested against. Slow (three
// tables of m x n doubles per word); not for ranking.
#pragma once

#include "SearchKit/SearchScorer.h"

#include <optional>
#include <span>
#include <string_view>

namespace vantrel::PlainScorer {

/// One lower-cased word against a lower-cased text with one bonus per
/// scalar: SearchScorer::score(word, text, bonus).
std::optional<SearchScorer::Match> scoreWord(
    const SearchScorer::Weights& weights, std::u32string_view word, std::u32string_view text, std::span<const double> bonus);

/// SearchScorer::match(query, text), limits on query and text included.
std::optional<SearchScorer::Match> match(const SearchScorer& scorer, std::string_view query, std::string_view text);

} // namespace vantrel::PlainScorer
