// The scorer against its plain version (whole tables, no shortcut): for any
// query and texts, scoring one text, scoring a batch of them (the kernels of
// the CPU it runs on) and the plain algorithm give the same matches, scores
// and positions.
#include "SearchKit/PlainScorer.h"
#include "SearchKit/SearchScorer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

using vantrel::SearchScorer;

namespace {
bool sameScore(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
} // namespace

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
        const auto plain = vantrel::PlainScorer::match(scorer, parts[0], parts[i]);
        const auto fast = scorer.match(query, parts[i], alone);
        if (plain.has_value() != fast.has_value() || (plain && !(sameScore(plain->score, fast->score) && plain->positions == fast->positions)))
            std::abort(); // one text scored unlike the plain algorithm
        if (!plain)
            continue;
        if (k >= batched.ids.size() || batched.ids[k] != i || !sameScore(batched.scores[k], plain->score))
            std::abort(); // the batch missed the match, reordered it or scored it otherwise
        if (positions) {
            const std::size_t end = batched.ends[k];
            if (end - positionAt != plain->positions.size() ||
                !std::equal(plain->positions.begin(), plain->positions.end(),
                            batched.positions.begin() + static_cast<std::ptrdiff_t>(positionAt)))
                std::abort(); // different positions
            positionAt = end;
        }
        ++k;
    }
    if (k != batched.ids.size())
        std::abort(); // the batch matched a text that does not match
    return 0;
}
