// Ordering of ranked candidates and the thread split of large rankings.
#include "SearchKit/SearchRanker.h"

#include "SearchKit/TextUnicode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>
#include <thread>

namespace vantrel::SearchRanker::detail {

namespace {

/// Below this many candidates a thread costs more than it saves.
constexpr std::size_t minimumPerThread = 4096;
/// Runs of ties up to this length cost fewer comparisons by the collator
/// than making keys for them would.
constexpr std::size_t shortRun = 32;


/// The score as an unsigned key that orders best first: doubles order as
/// their bits once negative ones are flipped (both zeros count as +0).
inline std::uint64_t bestFirstKey(double score)
{
    const auto bits = std::bit_cast<std::uint64_t>(score == 0 ? 0.0 : score);
    const std::uint64_t ascending = (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t { 1 } << 63);
    return ~ascending;
}

/// Sorts best first, equal scores keeping their current order. A stable
/// radix sort on bestFirstKey, a byte per pass; a pass whose byte is the
/// same in every key moves nothing and is skipped, so the few bytes that
/// scores of similar size differ in decide the cost.
void sortBestFirst(std::vector<Scored>& scored)
{
    const std::size_t n = scored.size();
    if (n < 256) {
        std::stable_sort(scored.begin(), scored.end(), [](const Scored& a, const Scored& b) { return a.score > b.score; });
        return;
    }
    std::vector<std::uint64_t> keys(n);
    std::array<std::array<std::uint32_t, 256>, 8> counts {};
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint64_t key = bestFirstKey(scored[k].score);
        keys[k] = key;
        for (std::size_t b = 0; b < 8; ++b)
            ++counts[b][(key >> (8 * b)) & 0xFF];
    }
    std::vector<Scored> otherScored(n);
    std::vector<std::uint64_t> otherKeys(n);
    for (std::size_t b = 0; b < 8; ++b) {
        auto& count = counts[b];
        if (count[(keys[0] >> (8 * b)) & 0xFF] == n)
            continue;
        std::uint32_t offset = 0;
        for (auto& c : count)
            offset += std::exchange(c, offset);
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint32_t to = count[(keys[k] >> (8 * b)) & 0xFF]++;
            otherScored[to] = scored[k];
            otherKeys[to] = keys[k];
        }
        scored.swap(otherScored);
        keys.swap(otherKeys);
    }
}

} // namespace

void forChunks(std::size_t count, unsigned chunks, const std::function<void(unsigned, std::size_t, std::size_t)>& body)
{
    if (chunks <= 1) {
        body(0, 0, count);
        return;
    }
    auto bound = [&](unsigned chunk) { return count * chunk / chunks; };
    std::vector<std::thread> workers;
    workers.reserve(chunks - 1);
    for (unsigned chunk = 1; chunk < chunks; ++chunk)
        workers.emplace_back([&, chunk] { body(chunk, bound(chunk), bound(chunk + 1)); });
    body(0, 0, bound(1));
    for (auto& worker : workers)
        worker.join();
}

unsigned threadsFor(std::size_t count, unsigned threads)
{
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t useful = std::max<std::size_t>(1, count / minimumPerThread);
    return static_cast<unsigned>(std::min<std::size_t>(threads, useful));
}

void order(std::vector<Scored>& scored, const TiebreakText& tiebreak, bool ownsTexts, unsigned threads)
{
    // Candidates arrive in input order, so a stable sort by score alone
    // leaves equal scores in input order.
    sortBestFirst(scored);

    // Runs of exactly equal scores are ordered by collation; only their
    // members need their texts.
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    std::vector<std::uint32_t> tied;
    for (std::size_t begin = 0; begin < scored.size();) {
        std::size_t end = begin + 1;
        while (end < scored.size() && scored[end].score == scored[begin].score)
            ++end;
        if (end - begin > 1) {
            runs.emplace_back(begin, end);
            for (std::size_t k = begin; k < end; ++k)
                tied.push_back(static_cast<std::uint32_t>(k));
        }
        begin = end;
    }
    if (runs.empty())
        return;

    // Short runs are sorted by the collator. In longer ones each candidate
    // gets an approximate collation key: its characters' primary weights, in
    // one buffer per thread. Such a run is sorted by key (the collator
    // decides equal keys), then the collator checks each neighbouring pair;
    // in a total order that proves the whole run sorted. A run where a
    // contraction made the keys mislead is sorted by the collator alone.
    std::vector<bool> runOfKeys(tied.size()); // by position in `tied`
    for (std::size_t r = 0, k = 0; r < runs.size(); ++r) {
        const std::size_t size = runs[r].second - runs[r].first;
        for (std::size_t end = k + size; k < end; ++k)
            runOfKeys[k] = size > shortRun;
    }
    const unsigned chunks = std::max(1u, tied.size() >= minimumPerThread ? threads : 1);
    std::vector<std::string_view> texts(scored.size()); // by slot
    std::vector<std::uint8_t> ascii(scored.size());     // by slot
    std::vector<std::string> storage(ownsTexts ? scored.size() : 0);
    struct KeySpan {
        std::uint32_t chunk = 0;
        std::size_t offset = 0;
        std::size_t length = 0;
    };
    std::vector<KeySpan> spans(scored.size()); // by slot
    std::vector<std::string> buffers(chunks);
    forChunks(tied.size(), chunks, [&](unsigned chunk, std::size_t from, std::size_t to) {
        std::string scratch;
        std::string& buffer = buffers[chunk];
        buffer.reserve((to - from) * 128);
        for (std::size_t k = from; k < to; ++k) {
            const Scored& entry = scored[tied[k]];
            texts[entry.slot] = tiebreak(entry.index, ownsTexts ? storage[entry.slot] : scratch);
            ascii[entry.slot] = TextUnicode::isAscii(texts[entry.slot]);
            if (!runOfKeys[k])
                continue;
            const std::size_t offset = buffer.size();
            TextUnicode::appendApproximateCollationKey(texts[entry.slot], buffer);
            spans[entry.slot] = { chunk, offset, buffer.size() - offset };
        }
    });
    auto key = [&](const Scored& entry) {
        const KeySpan& span = spans[entry.slot];
        return std::string_view(buffers[span.chunk]).substr(span.offset, span.length);
    };
    // ASCII pairs skip the collator where the locale allows it.
    const TextUnicode::AsciiCollation* asciiOrder = TextUnicode::asciiCollation();
    auto collated = [&](const Scored& a, const Scored& b) {
        const int order = asciiOrder != nullptr && ascii[a.slot] && ascii[b.slot]
            ? asciiOrder->compare(texts[a.slot], texts[b.slot])
            : TextUnicode::compareLocalized(texts[a.slot], texts[b.slot]);
        return order != 0 ? order < 0 : a.index < b.index;
    };
    auto byKey = [&](const Scored& a, const Scored& b) {
        const int order = key(a).compare(key(b));
        return order != 0 ? order < 0 : collated(a, b);
    };
    // Runs are independent; each chunk of runs is sorted on its own thread.
    forChunks(runs.size(), runs.size() >= 64 ? chunks : 1, [&](unsigned, std::size_t from, std::size_t to) {
        for (std::size_t r = from; r < to; ++r) {
            const auto begin = scored.begin() + static_cast<std::ptrdiff_t>(runs[r].first);
            const auto end = scored.begin() + static_cast<std::ptrdiff_t>(runs[r].second);
            if (end - begin <= static_cast<std::ptrdiff_t>(shortRun)) {
                std::sort(begin, end, collated);
                continue;
            }
            std::sort(begin, end, byKey);
            if (!std::is_sorted(begin, end, collated))
                std::sort(begin, end, collated);
        }
    });
}

} // namespace vantrel::SearchRanker::detail
