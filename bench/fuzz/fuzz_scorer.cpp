// The batched scorer, which runs texts through its tables eight at a time,
// against scoring each text alone: for any query and texts the matches, their
// order, scores and positions are the same.
#include "SearchKit/SearchScorer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

using vantrel::SearchScorer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // First byte: options; then the query and the texts, separated by NUL.
    const bool mismatch = data[0] & 1, positions = data[0] & 2;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::string_view> parts;
    for (std::size_t end; (end = rest.find('\0')) != std::string_view::npos; rest.remove_prefix(end + 1))
        parts.push_back(rest.substr(0, end));
    parts.push_back(rest);
    if (parts.size() < 2)
        return 0;

    const SearchScorer scorer(SearchScorer::Weights{}, mismatch);
    const auto query = SearchScorer::prepare(parts[0]);
    SearchScorer::Scratch scratch;
    SearchScorer::Matches batched;
    {
        SearchScorer::Batch batch(scorer, query, scratch, batched, positions);
        for (std::size_t i = 1; i < parts.size(); ++i)
            batch.add(static_cast<std::uint32_t>(i), parts[i]);
        batch.finish();
    }

    SearchScorer::Scratch alone;
    std::size_t k = 0, positionAt = 0;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        auto match = scorer.match(query, parts[i], alone);
        if (!match)
            continue;
        if (k >= batched.ids.size() || batched.ids[k] != i)
            std::abort(); // a match missing from the batch, or out of order
        const double a = batched.scores[k], b = match->score;
        if (std::memcmp(&a, &b, sizeof a) != 0)
            std::abort(); // a different score
        if (positions) {
            const std::size_t end = batched.ends[k];
            if (end - positionAt != match->positions.size() ||
                !std::equal(match->positions.begin(), match->positions.end(), batched.positions.begin() + static_cast<std::ptrdiff_t>(positionAt)))
                std::abort(); // different positions
            positionAt = end;
        }
        ++k;
    }
    if (k != batched.ids.size())
        std::abort(); // the batch matched a text that does not match alone
    return 0;
}
