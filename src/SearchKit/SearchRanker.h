// Ranking of candidates by the fuzzy scorer: best first, ties by locale order.
#pragma once

#include "SearchKit/SearchScorer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <ranges>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel::SearchRanker {

/// A candidate the scorer matched, with its match.
template <class Item>
struct Ranked {
    /// The candidate as passed to rank, unchanged.
    Item item;
    /// Score and positions within the candidate's haystack text.
    SearchScorer::Match match;

    bool operator==(const Ranked&) const = default;
};

namespace detail {

/// A matched candidate while ranking: its score, input index and the slot of
/// its match.
struct Scored {
    double score = 0;
    std::uint32_t index = 0;
    std::uint32_t slot = 0;
};

/// Sorts best first: higher score; on exactly equal scores the tiebreak text
/// in the current locale's case-insensitive collation; then input order.
/// Collation keys are computed only for candidates that tie. `threads` > 1
/// shares the work; the order is the same for any thread count.
void order(std::vector<Scored>& scored, const std::function<std::string(std::uint32_t)>& tiebreak, unsigned threads);

/// Runs body(chunk, begin, end) over [0, count) split into `chunks` contiguous
/// ranges, each on its own thread (the first on the caller's).
void forChunks(std::size_t count, unsigned chunks, const std::function<void(unsigned, std::size_t, std::size_t)>& body);

/// How many threads rankParallel uses for `count` candidates when asked for
/// `threads` (0: the machine's).
unsigned threadsFor(std::size_t count, unsigned threads);

template <class Items, class Haystack, class Tiebreak>
auto rankWith(const Items& items, std::string_view query, const SearchScorer& scorer, Haystack& haystack,
    Tiebreak& tiebreak, unsigned threads)
{
    using Item = std::ranges::range_value_t<Items>;
    const std::size_t count = std::ranges::size(items);
    const auto prepared = SearchScorer::prepare(query);
    auto begin = std::ranges::begin(items);

    struct Chunk {
        std::vector<std::uint32_t> indices;
        std::vector<SearchScorer::Match> matches;
    };
    std::vector<Chunk> chunks(threads);
    forChunks(count, threads, [&](unsigned chunk, std::size_t from, std::size_t to) {
        SearchScorer::Scratch scratch;
        auto& out = chunks[chunk];
        for (std::size_t i = from; i < to; ++i) {
            const auto& text = haystack(*std::next(begin, static_cast<std::ptrdiff_t>(i)));
            if (auto match = scorer.match(prepared, std::string_view(text), scratch)) {
                out.indices.push_back(static_cast<std::uint32_t>(i));
                out.matches.push_back(std::move(*match));
            }
        }
    });

    std::vector<Scored> scored;
    std::vector<SearchScorer::Match*> matches;
    for (auto& chunk : chunks) {
        for (std::size_t k = 0; k < chunk.indices.size(); ++k) {
            scored.push_back({ chunk.matches[k].score, chunk.indices[k], static_cast<std::uint32_t>(matches.size()) });
            matches.push_back(&chunk.matches[k]);
        }
    }
    order(
        scored,
        [&](std::uint32_t index) { return std::string(tiebreak(*std::next(begin, static_cast<std::ptrdiff_t>(index)))); },
        threads);

    std::vector<Ranked<Item>> result;
    result.reserve(scored.size());
    for (const auto& entry : scored)
        result.push_back({ *std::next(begin, static_cast<std::ptrdiff_t>(entry.index)), std::move(*matches[entry.slot]) });
    return result;
}

} // namespace detail

/// Every candidate the scorer matches, best first, with its match. `haystack`
/// gives the text to score (anything convertible to std::string_view, UTF-8),
/// `tiebreak` the text that orders exactly equal scores (current locale,
/// case ignored); equal tiebreaks keep input order. The query is used as
/// given. Single-threaded and deterministic.
template <std::ranges::random_access_range Items, class Haystack, class Tiebreak>
auto rank(const Items& items, std::string_view query, const SearchScorer& scorer, Haystack haystack, Tiebreak tiebreak)
{
    return detail::rankWith(items, query, scorer, haystack, tiebreak, 1);
}

/// rank() with scoring and sorting shared among `threads` threads (0: the
/// machine's) when there are enough candidates to pay for them. The result is
/// identical to rank()'s.
template <std::ranges::random_access_range Items, class Haystack, class Tiebreak>
auto rankParallel(const Items& items, std::string_view query, const SearchScorer& scorer, Haystack haystack,
    Tiebreak tiebreak, unsigned threads = 0)
{
    return detail::rankWith(items, query, scorer, haystack, tiebreak, detail::threadsFor(std::ranges::size(items), threads));
}

} // namespace vantrel::SearchRanker
