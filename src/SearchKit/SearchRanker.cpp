// Ordering of ranked candidates and the thread split of large rankings.
#include "SearchKit/SearchRanker.h"

#include "SearchKit/TextUnicode.h"

#include <algorithm>
#include <thread>

namespace vantrel::SearchRanker::detail {

namespace {

/// Below this many candidates a thread costs more than it saves.
constexpr std::size_t minimumPerThread = 4096;

bool better(const Scored& a, const Scored& b)
{
    if (a.score != b.score)
        return a.score > b.score;
    return a.index < b.index;
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

void order(std::vector<Scored>& scored, const std::function<std::string(std::uint32_t)>& tiebreak, unsigned threads)
{
    // (score, index) is a total order, so any sort, split or not, gives the
    // stable order by score.
    if (threads > 1 && scored.size() >= 2 * minimumPerThread) {
        const auto middle = scored.begin() + static_cast<std::ptrdiff_t>(scored.size() / 2);
        std::thread other([&] { std::sort(middle, scored.end(), better); });
        std::sort(scored.begin(), middle, better);
        other.join();
        std::inplace_merge(scored.begin(), middle, scored.end(), better);
    } else {
        std::sort(scored.begin(), scored.end(), better);
    }

    // Runs of exactly equal scores are ordered by collation keys, which are
    // made only for their members.
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

    std::vector<std::string> keys(scored.size()); // by slot
    const unsigned chunks = tied.size() >= 2 * minimumPerThread / 4 ? threads : 1;
    forChunks(tied.size(), std::max(1u, chunks), [&](unsigned, std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to; ++k) {
            const Scored& entry = scored[tied[k]];
            keys[entry.slot] = TextUnicode::collationKey(tiebreak(entry.index));
        }
    });
    for (auto [begin, end] : runs) {
        std::sort(scored.begin() + static_cast<std::ptrdiff_t>(begin), scored.begin() + static_cast<std::ptrdiff_t>(end),
            [&](const Scored& a, const Scored& b) {
                const int order = keys[a.slot].compare(keys[b.slot]);
                return order != 0 ? order < 0 : a.index < b.index;
            });
    }
}

} // namespace vantrel::SearchRanker::detail
