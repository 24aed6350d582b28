// links: SearchKit
// Scorer and ranker speed on synthetic window texts. `--write-corpus=N`
// prints the corpus of N texts instead (used by compare-fuzzy.sh), and with
// `--corpus=long`, `--corpus=scripts` or `--corpus=mixed` the long titles
// with paths and URLs, the titles mostly beyond Latin, or the mostly ASCII
// titles with a word from elsewhere in some. VANTREL_SEARCH_KERNEL=avx2 or scalar
// measures a narrower machine's path.
#include "SyntheticCorpus.h"

#include "SearchKit/ScorerCore.h"
#include "SearchKit/SearchKernel.h"
#include "SearchKit/SearchRanker.h"
#include "SearchKit/SearchScorer.h"
#include "SearchKit/TextUnicode.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using namespace vantrel;

/// The generated corpora the cases rank.
enum class Kind { windows, scripts, mixed };

/// `count` texts of `kind`: window texts, titles mostly beyond Latin, or
/// mostly ASCII titles with a word from elsewhere in some; made once each.
const std::vector<std::string>& corpus(std::size_t count, Kind kind = Kind::windows)
{
    static std::map<std::pair<std::size_t, Kind>, std::vector<std::string>> cache;
    auto it = cache.find({count, kind});
    if (it == cache.end())
        it = cache.emplace(std::pair{count, kind},
                           kind == Kind::scripts  ? bench::syntheticNonLatinTitles(count)
                               : kind == Kind::mixed ? bench::syntheticMixedTitles(count)
                                                     : bench::syntheticWindowTexts(count)).first;
    return it->second;
}

// The last, empty, query matches every text with the same score: ranking
// is then all ordering by collation.
const char* const queries[] = {"ter", "mai", "cfg", "sw pa", ""};

const std::string& textOf(const std::string& text)
{
    return text;
}

// One scorer call per text, scratch reused: the full match with positions,
// or the score alone (the table pass without the walk-back).
void BM_Scorer(benchmark::State& state, bool positions)
{
    const auto& texts = corpus(10000);
    const SearchScorer scorer;
    const auto query = SearchScorer::prepare(queries[state.range(0)]);
    SearchScorer::Scratch scratch;
    std::size_t matched = 0;
    for (auto _ : state) {
        for (const auto& text : texts) {
            if (positions) {
                auto match = scorer.match(query, text, scratch);
                matched += match.has_value();
                benchmark::DoNotOptimize(match);
            } else {
                auto score = scorer.score(query, text, scratch);
                matched += score.has_value();
                benchmark::DoNotOptimize(score);
            }
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
    state.counters["matched"] = static_cast<double>(matched) / static_cast<double>(state.iterations());
    state.SetLabel(queries[state.range(0)]);
}
BENCHMARK_CAPTURE(BM_Scorer, match, true)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Scorer, score, false)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// The whole ranking as a keystroke pays for it: score, sort, ties collated;
// on one thread or shared among the machine's.
void BM_Rank(benchmark::State& state, bool parallel)
{
    const auto& texts = corpus(static_cast<std::size_t>(state.range(0)));
    const SearchScorer scorer;
    const char* query = queries[state.range(1)];
    for (auto _ : state) {
        auto ranked = parallel ? SearchRanker::rankParallel(texts, query, scorer, textOf, textOf)
                               : SearchRanker::rank(texts, query, scorer, textOf, textOf);
        benchmark::DoNotOptimize(ranked);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
    state.SetLabel(query);
}
BENCHMARK_CAPTURE(BM_Rank, serial, false)->ArgsProduct({{1000, 10000, 100000}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rank, serial, false)->Args({10000, 4})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rank, parallel, true)->ArgsProduct({{10000, 100000}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

/// Forces, for `forced`'s lifetime, the kernel the case's first argument
/// names (0 AVX-512, 1 AVX2, 2 scalar); false, with the case marked
/// skipped, when this CPU cannot run it.
bool forceKernelOf(benchmark::State& state, std::optional<SearchKernelTesting::ForceKernel>& forced)
{
    const SearchKernel kernel = std::array { SearchKernel::avx512, SearchKernel::avx2, SearchKernel::scalar }[static_cast<std::size_t>(state.range(0))];
    if (!machineRuns(kernel)) {
        state.SkipWithError("this CPU cannot run the kernel");
        return false;
    }
    forced.emplace(kernel);
    return true;
}

// The serial ranking on each kernel the CPU runs (0 AVX-512, 1 AVX2, 2
// scalar), "ter" over 1,000 to 100,000 texts, and one letter (which nearly
// every window text has: nearly all match, and most tie with others) over
// 10,000: with every match's positions and a copy of its item, or `byIndex`
// as a panel keystroke and `vantrelctl rank --plain` pay for it (order and
// scores only). Run with --benchmark_enable_random_interleaving=true and
// repetitions, the kernels take turns in one process, so their medians
// compare side by side.
void BM_RankOnKernel(benchmark::State& state, const char* query, bool byIndex)
{
    std::optional<SearchKernelTesting::ForceKernel> forced;
    if (!forceKernelOf(state, forced))
        return;
    const auto& texts = corpus(static_cast<std::size_t>(state.range(1)));
    const SearchScorer scorer;
    for (auto _ : state) {
        if (byIndex) {
            auto ranked = SearchRanker::rankIndices(texts, query, scorer, textOf, textOf, 1);
            benchmark::DoNotOptimize(ranked);
        } else {
            auto ranked = SearchRanker::rank(texts, query, scorer, textOf, textOf);
            benchmark::DoNotOptimize(ranked);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
    state.SetLabel(std::string(kernelName(searchKernel())) + " " + query);
}
BENCHMARK_CAPTURE(BM_RankOnKernel, ter, "ter", false)->ArgsProduct({{0, 1, 2}, {1000, 10000, 100000}})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RankOnKernel, e, "e", false)->ArgsProduct({{0, 1, 2}, {10000}})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RankOnKernel, indices_ter, "ter", true)->ArgsProduct({{0, 1, 2}, {10000, 100000}})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RankOnKernel, indices_e, "e", true)->ArgsProduct({{0, 1, 2}, {10000}})->Unit(benchmark::kMillisecond);

// Titles of `kind` on each kernel (as BM_RankOnKernel), as many as the
// second argument says, for the query the third picks of `queries`.
void rankTitles(benchmark::State& state, Kind kind, const std::array<const char*, 3>& queries)
{
    std::optional<SearchKernelTesting::ForceKernel> forced;
    if (!forceKernelOf(state, forced))
        return;
    const auto& texts = corpus(static_cast<std::size_t>(state.range(1)), kind);
    const char* query = queries[static_cast<std::size_t>(state.range(2))];
    const SearchScorer scorer;
    for (auto _ : state) {
        auto ranked = SearchRanker::rank(texts, query, scorer, textOf, textOf);
        benchmark::DoNotOptimize(ranked);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
    state.SetLabel(std::string(kernelName(searchKernel())) + " " + query);
}

// The titles mostly beyond Latin, for a query that matches nothing, one
// letter and two letters.
void BM_RankScripts(benchmark::State& state)
{
    rankTitles(state, Kind::scripts, { "zqxj", "e", "fi" });
}
BENCHMARK(BM_RankScripts)->ArgsProduct({{0, 1, 2}, {10000, 100000}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

// Mostly ASCII titles, some with a word the plain collation does not cover,
// for one, two and four letters: most ties are ordered by approximate
// collation keys.
void BM_RankMixed(benchmark::State& state)
{
    rankTitles(state, Kind::mixed, { "a", "co", "prjt" });
}
BENCHMARK(BM_RankMixed)->ArgsProduct({{0, 1, 2}, {10000}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

// Output of 100,000 texts as vantrelctl prints them, each checked for
// well-formed UTF-8 on the way, on each kernel: window texts (1) or titles
// mostly beyond Latin (2); and 0 copies the scripts' texts unchecked, the
// floor.
void BM_SanitizeOnKernel(benchmark::State& state)
{
    std::optional<SearchKernelTesting::ForceKernel> forced;
    if (!forceKernelOf(state, forced))
        return;
    const auto& texts = corpus(100000, state.range(1) != 1 ? Kind::scripts : Kind::windows);
    std::string out;
    std::size_t bytes = 0;
    for (const auto& text : texts)
        bytes += text.size() + 1;
    out.reserve(bytes);
    for (auto _ : state) {
        out.clear();
        for (const auto& text : texts) {
            if (state.range(1) == 0)
                out += text;
            else
                TextUnicode::appendSanitizedUtf8(text, out);
            out.push_back('\n');
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(std::string(kernelName(searchKernel())) + std::array { " unchecked", " windows", " scripts" }[static_cast<std::size_t>(state.range(1))]);
}
BENCHMARK(BM_SanitizeOnKernel)->ArgsProduct({{0, 1, 2}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

// Texts narrowed to a byte per scalar, as the scorer does for ASCII queries
// in texts beyond ASCII: the 100,000 titles mostly beyond Latin, on each
// kernel.
void BM_NarrowOnKernel(benchmark::State& state)
{
    std::optional<SearchKernelTesting::ForceKernel> forced;
    if (!forceKernelOf(state, forced))
        return;
    const auto& texts = corpus(100000, Kind::scripts);
    std::vector<std::uint8_t> out(4096);
    std::size_t bytes = 0;
    for (const auto& text : texts)
        bytes += text.size();
    for (auto _ : state) {
        std::ptrdiff_t total = 0;
        for (const auto& text : texts)
            total += TextUnicode::narrowScalars(text, out.data(), scorer::narrowClass);
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.SetLabel(std::string(kernelName(searchKernel())));
}
BENCHMARK(BM_NarrowOnKernel)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// The serial ranking again over views of the texts, as vantrelctl ranks its
// input: every result then copies 16 bytes rather than a string, so this is
// the ranking's own cost without the copies of the caller's items.
void BM_RankViews(benchmark::State& state)
{
    const auto& texts = corpus(static_cast<std::size_t>(state.range(0)));
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    const SearchScorer scorer;
    const char* query = queries[state.range(1)];
    auto self = [](std::string_view text) { return text; };
    for (auto _ : state) {
        auto ranked = SearchRanker::rank(views, query, scorer, self, self);
        benchmark::DoNotOptimize(ranked);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
    state.SetLabel(query);
}
BENCHMARK(BM_RankViews)->ArgsProduct({{1000, 10000, 100000}, {0}})->Unit(benchmark::kMillisecond);

// A long text: one word against 100,000 scalars, of which the scorer takes
// the first SearchScorer::maxTextScalars.
void BM_ScorerHugeText(benchmark::State& state)
{
    std::string text;
    for (const auto& line : corpus(2000))
        text += line + " ";
    text.resize(100000, 'x');
    const SearchScorer scorer;
    const auto query = SearchScorer::prepare("tmnl");
    SearchScorer::Scratch scratch;
    for (auto _ : state)
        benchmark::DoNotOptimize(scorer.match(query, text, scratch));
}
BENCHMARK(BM_ScorerHugeText)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    std::string kind = "windows";
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--corpus=", 9) == 0)
            kind = argv[i] + 9;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--write-corpus=", 15) == 0) {
            const std::size_t count = std::stoul(argv[i] + 15);
            const auto lines = kind == "long"  ? bench::syntheticLongTitles(count)
                : kind == "scripts"            ? bench::syntheticNonLatinTitles(count)
                : kind == "mixed"              ? bench::syntheticMixedTitles(count)
                                               : bench::syntheticWindowTexts(count);
            for (const auto& line : lines)
                std::printf("%s\n", line.c_str());
            return 0;
        }
    }
    std::fprintf(stderr, "search kernel: %s\n", std::string(kernelName(searchKernel())).c_str());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
