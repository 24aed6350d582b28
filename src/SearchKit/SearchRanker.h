// Ranking of candidates by the fuzzy scorer: best first, ties by locale order.
#pragma once

#include "SearchKit/SearchScorer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <ranges>
#include <string>
#include <string_view>
#include <type_traits>
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

/// A candidate the scorer matched, by its place among the items: its score,
/// its input index and (of use only while ranking) the slot of its match.
struct RankedIndex {
    double score = 0;
    std::uint32_t index = 0;
    std::uint32_t slot = 0;
};

namespace detail {

using Scored = RankedIndex;

/// Sorts best first: higher score; on exactly equal scores the tiebreak text
/// in the current locale's case-insensitive collation; then input order.
/// Tiebreak texts are fetched only for candidates that tie. `threads` > 1
/// shares the work; the order is the same for any thread count.
/// `tiebreak(index, storage)` returns the text of a candidate, using
/// `storage` (kept alive while sorting) when `ownsTexts`, that is when the
/// caller's tiebreak makes new strings rather than viewing existing ones.
using TiebreakText = std::function<std::string_view(std::uint32_t index, std::string& storage)>;
void order(std::vector<Scored>& scored, const TiebreakText& tiebreak, bool ownsTexts, unsigned threads);

/// What a ranking keeps of the candidates of one piece (see forPieces) it
/// matched, by input index.
using Chunk = SearchScorer::Matches;

/// Working memory kept per thread from one ranking to the next: re-ranking
/// on every keystroke then reuses it instead of having the allocator give it
/// back to the system and fault it in again. A ranking started while the
/// thread's is in use (from inside a haystack or tiebreak function) gets a
/// fresh one.
template <class T>
class Reused {
public:
    Reused()
        : slot_(slot())
        , borrowed_(!slot_.inUse)
    {
        slot_.inUse = true;
    }
    ~Reused()
    {
        if (borrowed_)
            slot_.inUse = false;
    }
    Reused(const Reused&) = delete;
    Reused& operator=(const Reused&) = delete;

    T& operator*() { return borrowed_ ? slot_.value : own_; }

private:
    struct Slot {
        T value;
        bool inUse = false;
    };
    static Slot& slot()
    {
        thread_local Slot slot;
        return slot;
    }

    Slot& slot_;
    bool borrowed_;
    T own_;
};

/// The working memory of a ranking (see Reused): per piece of candidates
/// what it matched, and the merged list. The caller's thread keeps its
/// scratch too.
struct RankBuffers {
    std::vector<Chunk> chunks;
    SearchScorer::Scratch scratch;
    std::vector<Scored> scored;
    /// Each piece's first slot, and where positions are asked for of more
    /// than one piece, each slot's piece.
    std::vector<std::size_t> chunkStarts;
    std::vector<std::uint32_t> pieceOf;
};

/// Runs body(chunk, begin, end) over [0, count) split into `chunks` contiguous
/// ranges, each on its own thread (the first on the caller's).
void forChunks(std::size_t count, unsigned chunks, const std::function<void(unsigned, std::size_t, std::size_t)>& body);

/// How many pieces forPieces splits work for `threads` threads into: enough
/// that a thread held up (starting late, or sharing its core with other work)
/// leaves most of its share to the others.
std::size_t piecesFor(unsigned threads);

/// Runs body(thread, piece, begin, end) over [0, count) split into
/// piecesFor(threads) contiguous ranges, which `threads` threads (the first
/// the caller's) take in turn, each as soon as it has finished its last.
void forPieces(std::size_t count, unsigned threads,
    const std::function<void(unsigned thread, std::size_t piece, std::size_t, std::size_t)>& body);

/// How many threads rankParallel uses for `count` candidates when asked for
/// `threads` (0: the machine's).
unsigned threadsFor(std::size_t count, unsigned threads);

/// Whether a text function returning `Text` views text that outlives the
/// call (a reference or a string_view) rather than making a new string.
template <class Text>
constexpr bool viewsText = std::is_reference_v<Text> || std::is_same_v<std::remove_cv_t<Text>, std::string_view>;

/// Scores the items and leaves the matches in `buffers.scored`, best first
/// (see order), their positions in `buffers.chunks` when asked for.
template <class Items, class Haystack, class Tiebreak>
void scoreAndOrder(const Items& items, const SearchScorer::Query& prepared, const SearchScorer& scorer, Haystack& haystack,
    Tiebreak& tiebreak, unsigned threads, bool positions, RankBuffers& buffers)
{
    const std::size_t count = std::ranges::size(items);
    auto begin = std::ranges::begin(items);

    // A haystack that views the items' text is cheap to ask twice.
    constexpr bool searchedInPlace = viewsText<decltype(haystack(*begin))>;
    constexpr std::size_t prefetchAhead = 16;
    std::vector<Chunk>& chunks = buffers.chunks;
    const std::size_t pieces = piecesFor(threads);
    if (chunks.size() < pieces)
        chunks.resize(pieces);
    // The other threads' scratch, each made by its thread and kept for its
    // next pieces.
    std::vector<std::unique_ptr<SearchScorer::Scratch>> scratches(threads);
    forPieces(count, threads, [&](unsigned thread, std::size_t piece, std::size_t from, std::size_t to) {
        if (thread != 0 && !scratches[thread])
            scratches[thread] = std::make_unique<SearchScorer::Scratch>();
        SearchScorer::Scratch& scratch = thread == 0 ? buffers.scratch : *scratches[thread];
        // Taken out, filled here and moved back at the end: vectors side by
        // side in `chunks` share cache lines, and every push_back on one
        // thread would take them from the other.
        Chunk out = std::move(chunks[piece]);
        out.clear();
        // Room for every candidate up front: growing these by doubling
        // would copy them and fault in fresh pages several times.
        out.ids.reserve(to - from);
        out.scores.reserve(to - from);
        if (positions) {
            out.ends.reserve(to - from);
            out.positions.reserve((to - from) * static_cast<std::size_t>(std::max(prepared.length, 1)));
        }
        SearchScorer::Batch batch(scorer, prepared, scratch, out, positions);
        for (std::size_t i = from; i < to; ++i) {
            // Texts that are the items' own lie wherever the items put them,
            // seldom where a hardware prefetcher would guess: ask for a text
            // a few ahead.
            if constexpr (searchedInPlace)
                if (i + prefetchAhead < to)
                    __builtin_prefetch(
                        std::string_view(haystack(*std::next(begin, static_cast<std::ptrdiff_t>(i + prefetchAhead)))).data());
            // (A haystack that makes its text keeps it until add returns.)
            batch.add(static_cast<std::uint32_t>(i), std::string_view(haystack(*std::next(begin, static_cast<std::ptrdiff_t>(i)))));
        }
        batch.finish();
        chunks[piece] = std::move(out);
    });

    std::size_t kept = 0;
    for (std::size_t piece = 0; piece < pieces; ++piece)
        kept += chunks[piece].ids.size();
    std::vector<Scored>& scored = buffers.scored;
    scored.clear();
    scored.reserve(kept);
    // A match's slot is its place in the pieces taken in turn.
    std::vector<std::size_t>& chunkStarts = buffers.chunkStarts;
    chunkStarts.clear();
    buffers.pieceOf.clear();
    for (std::size_t c = 0; c < pieces; ++c) {
        const Chunk& chunk = chunks[c];
        chunkStarts.push_back(scored.size());
        for (std::size_t k = 0; k < chunk.ids.size(); ++k)
            scored.push_back({ chunk.scores[k], chunk.ids[k], static_cast<std::uint32_t>(scored.size()) });
        if (positions && pieces > 1)
            buffers.pieceOf.insert(buffers.pieceOf.end(), chunk.ids.size(), static_cast<std::uint32_t>(c));
    }
    constexpr bool views = viewsText<decltype(tiebreak(*begin))>;
    order(
        scored,
        [&](std::uint32_t index, std::string& storage) -> std::string_view {
            const auto& item = *std::next(begin, static_cast<std::ptrdiff_t>(index));
            if constexpr (views) {
                return std::string_view(tiebreak(item));
            } else {
                storage = std::string(tiebreak(item));
                return storage;
            }
        },
        !views, threads);
}

template <class Items, class Haystack, class Tiebreak>
auto rankWith(const Items& items, std::string_view query, const SearchScorer& scorer, Haystack& haystack,
    Tiebreak& tiebreak, unsigned threads, bool positions)
{
    using Item = std::ranges::range_value_t<Items>;
    const auto prepared = SearchScorer::prepare(query);
    auto begin = std::ranges::begin(items);
    constexpr bool searchedInPlace = viewsText<decltype(haystack(*begin))>;
    Reused<RankBuffers> reused;
    RankBuffers& buffers = *reused;
    scoreAndOrder(items, prepared, scorer, haystack, tiebreak, threads, positions, buffers);
    const std::vector<Chunk>& chunks = buffers.chunks;
    const std::vector<Scored>& scored = buffers.scored;
    const std::vector<std::size_t>& chunkStarts = buffers.chunkStarts;

    std::vector<Ranked<Item>> result;
    result.reserve(scored.size());
    constexpr std::size_t resultAhead = 8;
    auto itemAt = [&](std::uint32_t index) -> decltype(auto) { return *std::next(begin, static_cast<std::ptrdiff_t>(index)); };
    for (std::size_t place = 0; place < scored.size(); ++place) {
        const Scored& entry = scored[place];
        // Items are copied in score order, that is from all over: ask for
        // the item a few ahead, and for its text (which copying an item
        // that holds it reads) once the item is there.
        if constexpr (std::is_lvalue_reference_v<std::iter_reference_t<decltype(begin)>>)
            if (place + 2 * resultAhead < scored.size())
                __builtin_prefetch(std::addressof(itemAt(scored[place + 2 * resultAhead].index)));
        if constexpr (searchedInPlace)
            if (place + resultAhead < scored.size())
                __builtin_prefetch(std::string_view(haystack(itemAt(scored[place + resultAhead].index))).data());
        SearchScorer::Match match { entry.score, {} };
        if (positions) {
            const std::size_t c = buffers.pieceOf.empty() ? 0 : buffers.pieceOf[entry.slot];
            const std::size_t k = entry.slot - chunkStarts[c];
            const Chunk& chunk = chunks[c];
            const int* all = chunk.positions.data();
            match.positions = Positions(all + (k == 0 ? 0 : chunk.ends[k - 1]), all + chunk.ends[k]);
        }
        result.emplace_back(itemAt(entry.index), std::move(match));
    }
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
    return detail::rankWith(items, query, scorer, haystack, tiebreak, 1, true);
}

/// rank() with scoring and sorting shared among `threads` threads (0: the
/// machine's) when there are enough candidates to pay for them; `haystack` and
/// `tiebreak` are then called from several threads. The result is identical
/// to rank()'s; with `positions` false every match's positions stay empty
/// (cheaper, for callers that need only the order and scores).
template <std::ranges::random_access_range Items, class Haystack, class Tiebreak>
auto rankParallel(const Items& items, std::string_view query, const SearchScorer& scorer, Haystack haystack,
    Tiebreak tiebreak, unsigned threads = 0, bool positions = true)
{
    return detail::rankWith(
        items, query, scorer, haystack, tiebreak, detail::threadsFor(std::ranges::size(items), threads), positions);
}

/// Starts the threads that rankParallel() and rankIndices() keep for
/// `threads` threads (0: the machine's), and returns at once: a caller
/// that expects a large ranking soon (while it reads the candidates, say)
/// has it start on all its threads rather than wait for them to start.
void prepareThreads(unsigned threads = 0);

/// rankParallel()'s order and scores without the items or positions: each
/// match by its index, best first. For callers that only print the items,
/// to whom copying each one and its match would be as much work again.
template <std::ranges::random_access_range Items, class Haystack, class Tiebreak>
std::vector<RankedIndex> rankIndices(const Items& items, std::string_view query, const SearchScorer& scorer,
    Haystack haystack, Tiebreak tiebreak, unsigned threads = 0)
{
    const auto prepared = SearchScorer::prepare(query);
    detail::Reused<detail::RankBuffers> reused;
    detail::scoreAndOrder(items, prepared, scorer, haystack, tiebreak,
        detail::threadsFor(std::ranges::size(items), threads), false, *reused);
    return std::move((*reused).scored);
}

} // namespace vantrel::SearchRanker
