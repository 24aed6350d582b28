// `vantrelctl rank`: ranks standard-input lines for a query, best first.
#include "Command.h"
#include "SearchOutput.h"

#include "SearchKit/SearchRanker.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <malloc.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vantrelctl {
namespace {

/// All of standard input. A regular file is mapped with its pages read in
/// at once: no copy, and no page faults one page at a time. Anything else
/// is read in large blocks into one buffer, never zero-filled first.
class Input {
public:
    Input()
    {
        struct stat status {};
        if (::fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
            const auto size = static_cast<std::size_t>(status.st_size);
            void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, STDIN_FILENO, 0);
            if (mapped != MAP_FAILED) {
                mapped_ = mapped;
                size_ = size;
                return;
            }
        }
        readBlocks();
    }
    ~Input()
    {
        if (mapped_ != nullptr)
            ::munmap(mapped_, size_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    std::string_view view() const
    {
        return { mapped_ != nullptr ? static_cast<const char*>(mapped_) : bytes_.get(), size_ };
    }

private:
    void readBlocks()
    {
        std::size_t capacity = 1 << 20;
        bytes_.reset(new char[capacity]);
        for (;;) {
            if (size_ == capacity) {
                std::unique_ptr<char[]> larger(new char[capacity * 2]);
                std::memcpy(larger.get(), bytes_.get(), size_);
                bytes_ = std::move(larger);
                capacity *= 2;
            }
            const ssize_t got = ::read(STDIN_FILENO, bytes_.get() + size_, capacity - size_);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            size_ += static_cast<std::size_t>(got);
        }
    }

    void* mapped_ = nullptr;
    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
};

/// Below this much input a ranking touches too few pages, and takes too
/// little time, for preparing the heap or loading collation early to pay.
constexpr std::size_t largeInput = std::size_t { 64 } << 10;

/// The heap below the ranking's (see prepareHeap), kept for the process's
/// life. Nothing reads it: volatile, so that the compiler keeps the
/// allocation all the same.
void* volatile heapBelowRanking = nullptr;

/// Readies the heap for a ranking whose working memory grows with
/// `inputBytes`. Every page a process touches for the first time costs a
/// fault, and on virtual machines faults are dear: on the ordinary heap a
/// ranking of 10,000 lines faults in some 400 pages one by one. Here the
/// heap, which must be the only arena, is never trimmed and is grown by
/// what the ranking may use in one step, marked for huge pages, so that
/// the pages it does touch come a huge page at a time. The kernel maps a
/// huge page only where a whole aligned one lies in the marked range: the
/// range is whole huge pages, and the heap below the first is taken for
/// the process's life, so that the ranking's allocations start in it. The
/// pages are not faulted in ahead: a query that matches little would pay
/// for all of them. Both calls are advice; a kernel that declines leaves
/// the ordinary heap.
void prepareHeap(std::size_t inputBytes)
{
    if (inputBytes < largeInput)
        return;
    // The largest threshold glibc accepts: anything bigger is mapped on its
    // own, outside the heap prepared here.
    constexpr std::size_t mmapThreshold = std::size_t { 32 } << 20;
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(mmapThreshold));
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    constexpr std::uintptr_t hugePage = std::uintptr_t { 2 } << 20;
    // Lines, scores, ordering and output take up to four times the input.
    const std::size_t wanted = std::min(inputBytes * 4, mmapThreshold - 2 * hugePage);
    const std::size_t reserve = (wanted + hugePage - 1) / hugePage * hugePage;
    void* block = std::malloc(reserve + hugePage);
    if (block == nullptr)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const auto first = (start + hugePage - 1) & ~(hugePage - 1);
    ::madvise(reinterpret_cast<void*>(first), reserve, MADV_HUGEPAGE);
    // The block goes back to the top of the heap when freed, where the
    // ranking's allocations then come from: from `first` on, once what
    // lies below it is taken (less the header glibc puts before a block).
    std::free(block);
    constexpr std::size_t header = 2 * sizeof(std::size_t);
    if (first - start > 2 * header)
        heapBelowRanking = std::malloc(first - start - header);
}

/// Whether any of the first lines of `input` matches `query`: when none
/// does, the ranking is unlikely to find ties that need the collation.
bool matchesEarly(std::string_view input, const vantrel::SearchScorer::Query& query, const vantrel::SearchScorer& scorer)
{
    constexpr int sampleLines = 256;
    vantrel::SearchScorer::Scratch scratch;
    for (int n = 0; n < sampleLines && !input.empty(); ++n) {
        const std::size_t end = std::min(input.find('\n'), input.size());
        if (scorer.score(query, input.substr(0, end), scratch))
            return true;
        input.remove_prefix(std::min(end + 1, input.size()));
    }
    return false;
}

/// The lines of `input`, or more than `limit` of them when it has more.
std::vector<std::string_view> splitLines(std::string_view input, std::size_t limit)
{
    std::vector<std::string_view> lines;
    lines.reserve(std::min(input.size() / 48, limit) + 1);
    while (!input.empty() && lines.size() <= limit) {
        const std::size_t end = input.find('\n');
        if (end == std::string_view::npos) {
            lines.push_back(input);
            break;
        }
        lines.push_back(input.substr(0, end));
        input.remove_prefix(end + 1);
    }
    return lines;
}

/// Inputs of up to this many lines are ranked in one piece. A ranking holds
/// some 150 bytes of working memory a line, 750 MB for 8 MB of one-letter
/// lines: larger inputs are ranked in blocks whose orders are then merged,
/// keeping of each ranked line only its place in its block and its score.
constexpr std::size_t wholeLines = std::size_t { 1 } << 18;
/// A block's lines, and the most bytes it spans unless one line is longer,
/// so that a place in it fits 32 bits.
constexpr std::size_t blockLines = std::size_t { 1 } << 16;
constexpr std::size_t blockBytes = std::size_t { 1 } << 30;

/// Appends one ranked line as the output shows it.
void appendLine(std::string& out, std::string_view line, const vantrel::SearchScorer::Match& match, bool plain)
{
    if (plain) {
        vantrel::TextUnicode::appendSanitizedUtf8(line, out);
        out.push_back('\n');
    } else {
        out += "{\"text\": ";
        appendString(out, line);
        out += ", ";
        appendMatchFields(out, match);
        out += "}\n";
    }
}

/// Output written in blocks of 64 KiB: a larger buffer would only be more
/// pages to fault in.
class Writer {
public:
    Writer() { out_.reserve(block); }
    ~Writer() { std::fwrite(out_.data(), 1, out_.size(), stdout); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    /// The buffer to append one line to.
    std::string& line()
    {
        if (out_.size() > block - 4096) {
            std::fwrite(out_.data(), 1, out_.size(), stdout);
            out_.clear();
        }
        return out_;
    }

private:
    static constexpr std::size_t block = std::size_t { 64 } << 10;
    std::string out_;
};

/// One block's ranking as kept for the merge: its lines' starts, best
/// first, and their scores as runs of equal ones (one run for a block of
/// ties).
struct RankedBlock {
    struct Run {
        double score = 0;
        std::uint32_t count = 0;
    };
    const char* base = nullptr;
    std::vector<std::uint32_t> starts;
    std::vector<Run> runs;
};

/// Where the merge is in one block: at its line `line`, whose text is
/// `text`, in its run `run`.
struct Cursor {
    const RankedBlock* block;
    std::string_view input;
    std::size_t line = 0;
    std::size_t run = 0;
    std::uint32_t leftInRun = 0;
    std::string_view text;

    Cursor(const RankedBlock& block, std::string_view input)
        : block(&block)
        , input(input)
        , leftInRun(block.runs.front().count)
    {
        find();
    }
    double score() const { return block->runs[run].score; }
    const char* start() const { return text.data(); }
    /// Moves to the next line; false past the last.
    bool next()
    {
        if (++line == block->starts.size())
            return false;
        if (--leftInRun == 0)
            leftInRun = block->runs[++run].count;
        find();
        return true;
    }

private:
    void find()
    {
        const char* at = block->base + block->starts[line];
        const auto left = static_cast<std::size_t>(input.data() + input.size() - at);
        const void* newline = std::memchr(at, '\n', left);
        text = { at, newline == nullptr ? left : static_cast<std::size_t>(static_cast<const char*>(newline) - at) };
    }
};

/// rankParallel's order for input in blocks: each block ranked on its own,
/// then merged by the order the ranking sorts by (higher score, then the
/// current locale's case-insensitive collation, then input order), which is
/// total, so the merged order is the ranking's own.
void rankInBlocks(std::string_view input, const std::string& query, const vantrel::SearchScorer& scorer, bool plain)
{
    auto self = [](std::string_view line) { return line; };
    std::vector<RankedBlock> blocks;
    std::vector<std::string_view> lines;
    for (std::string_view rest = input; !rest.empty();) {
        lines.clear();
        RankedBlock block;
        block.base = rest.data();
        while (!rest.empty() && lines.size() < blockLines
            && (lines.empty() || static_cast<std::size_t>(rest.data() - block.base) < blockBytes)) {
            const std::size_t end = rest.find('\n');
            lines.push_back(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        }
        // Positions are found again for the lines printed.
        for (const auto& entry : vantrel::SearchRanker::rankIndices(lines, query, scorer, self, self)) {
            block.starts.push_back(static_cast<std::uint32_t>(lines[entry.index].data() - block.base));
            // Zeros of both signs tie, but print differently: runs keep bits.
            if (block.runs.empty() || std::bit_cast<std::uint64_t>(block.runs.back().score) != std::bit_cast<std::uint64_t>(entry.score))
                block.runs.push_back({ entry.score, 0 });
            ++block.runs.back().count;
        }
        if (!block.starts.empty())
            blocks.push_back(std::move(block));
    }

    const vantrel::TextUnicode::PlainCollation* plainOrder = vantrel::TextUnicode::plainCollation();
    auto collate = [&](std::string_view a, std::string_view b) {
        return plainOrder != nullptr && plainOrder->covers(a) && plainOrder->covers(b)
            ? plainOrder->compare(a, b)
            : vantrel::TextUnicode::compareLocalized(a, b);
    };
    // A heap of the blocks' next lines, the best on top.
    std::vector<Cursor> heap;
    for (const RankedBlock& block : blocks)
        heap.emplace_back(block, input);
    auto worse = [&](const Cursor& a, const Cursor& b) {
        if (a.score() != b.score())
            return a.score() < b.score();
        const int order = collate(a.text, b.text);
        return order != 0 ? order > 0 : a.start() > b.start();
    };
    std::make_heap(heap.begin(), heap.end(), worse);
    const auto prepared = vantrel::SearchScorer::prepare(query);
    vantrel::SearchScorer::Scratch scratch;
    vantrel::SearchScorer::Match match;
    Writer writer;
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), worse);
        Cursor& best = heap.back();
        const std::string_view line = best.text;
        if (!plain) {
            scratch.positions.clear();
            scorer.match(prepared, line, scratch, scratch.positions);
            match.score = best.score();
            match.positions = vantrel::Positions(scratch.positions.begin(), scratch.positions.end());
        }
        appendLine(writer.line(), line, match, plain);
        if (best.next())
            std::push_heap(heap.begin(), heap.end(), worse);
        else
            heap.pop_back();
    }
}

int run(Args args)
{
    std::vector<std::string> rest(args.begin(), args.end());
    const bool allowMismatch = takeFlag(rest, "--allow-mismatch");
    const bool plain = takeFlag(rest, "--plain");
    if (rest.size() != 1) {
        std::cerr << "usage: vantrelctl rank [--allow-mismatch] [--plain] QUERY < lines\n";
        return 2;
    }
    // One arena for all threads, set before any other thread exists, so
    // that they all use the heap prepared below.
    mallopt(M_ARENA_MAX, 1);
    const Input input;
    // Whether the first lines match is asked before the heap is prepared:
    // where they do, the threads the ranking will share its work with are
    // started then, and come up while the heap's first page is cleared. The
    // collation that orders equal scores (whose data takes a millisecond
    // or two to load) is then loaded on another thread while the input is
    // split and scored. Where the input is small (it may have no ties at
    // all) or its first lines match nothing, neither is started ahead: a
    // ranking that needs them all the same starts them itself.
    const vantrel::SearchScorer scorer({}, allowMismatch);
    const bool matchesSoon
        = input.view().size() >= largeInput && matchesEarly(input.view(), vantrel::SearchScorer::prepare(rest[0]), scorer);
    if (matchesSoon)
        vantrel::SearchRanker::prepareThreads();
    prepareHeap(input.view().size());
    std::jthread helper;
    if (matchesSoon)
        helper = std::jthread([] { vantrel::TextUnicode::prepareCollation(); });
    auto lines = splitLines(input.view(), wholeLines);
    if (lines.size() > wholeLines) {
        std::vector<std::string_view>().swap(lines);
        rankInBlocks(input.view(), rest[0], scorer, plain);
        return 0;
    }
    // A query that matches little is scored on one thread up to this many
    // lines: starting a second would cost more than it saves.
    constexpr std::size_t fewLines = std::size_t { 1 } << 15;
    const unsigned threads = !matchesSoon && lines.size() < fewLines ? 1 : 0;
    auto self = [](std::string_view line) { return line; };
    Writer writer;
    if (plain) {
        // Only the lines are printed: the ranking need not copy them, nor
        // recover positions.
        const vantrel::SearchScorer::Match none;
        const auto ranked = vantrel::SearchRanker::rankIndices(lines, rest[0], scorer, self, self, threads);
        // The lines are printed from all over the input: a line's place,
        // and then its bytes, are asked for a few lines ahead.
        constexpr std::size_t ahead = 8;
        for (std::size_t k = 0; k < ranked.size(); ++k) {
            if (k + 2 * ahead < ranked.size())
                __builtin_prefetch(&lines[ranked[k + 2 * ahead].index]);
            if (k + ahead < ranked.size())
                __builtin_prefetch(lines[ranked[k + ahead].index].data());
            appendLine(writer.line(), lines[ranked[k].index], none, true);
        }
        return 0;
    }
    for (const auto& entry : vantrel::SearchRanker::rankParallel(lines, rest[0], scorer, self, self, threads))
        appendLine(writer.line(), entry.item, entry.match, false);
    return 0;
}

// The help names the limits.
static_assert(vantrel::SearchScorer::maxQueryScalars == 128 && vantrel::SearchScorer::maxTextScalars == 4096);

const Registration registration({
    "rank",
    "rank standard-input lines for a query, best first",
    "usage: vantrelctl rank [--allow-mismatch] [--plain] QUERY < lines\n\n"
    "Reads UTF-8 lines (ill-formed bytes are replaced by U+FFFD), scores each with\n"
    "the window-search scorer and prints one JSON line per match, best first:\n"
    "  {\"text\": \"...\", \"score\": S, \"positions\": [...]}\n"
    "Equal scores are ordered by the lines in the current locale's collation,\n"
    "ignoring case, then by input order. --plain prints only the matched lines.\n"
    "--allow-mismatch lets a query word match with one character left out.\n"
    "Only the first 128 Unicode scalars of QUERY and the first 4096 of each line\n"
    "take part: a longer line is scored as if it ended there (it is printed whole),\n"
    "so no line costs more than that however long it is.\n",
    run,
});

} // namespace
} // namespace vantrelctl
