// `vantrelctl rank`: ranks standard-input lines for a query, best first.
#include "Command.h"
#include "SearchOutput.h"

#include "SearchKit/SearchRanker.h"

#include <algorithm>
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

/// Readies the heap for a ranking whose working memory grows with
/// `inputBytes`. Every page a process touches for the first time costs a
/// fault, and on virtual machines a fault costs about 10 us: a ranking of
/// 10,000 lines used to fault in some 400 pages one by one. Here the heap,
/// which must be the only arena, is never trimmed and is grown by what the
/// ranking will use in one step, marked for huge pages and populated with
/// one call, which costs a tenth of faulting the pages in. Both calls are
/// advice; a kernel that declines leaves the ordinary heap.
void prepareHeap(std::size_t inputBytes)
{
    if (inputBytes < largeInput)
        return;
    // The largest threshold glibc accepts: anything bigger is mapped on its
    // own, outside the heap prepared here.
    constexpr std::size_t mmapThreshold = std::size_t { 32 } << 20;
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(mmapThreshold));
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // Lines, scores, ordering and output take up to four times the input.
    const std::size_t reserve = std::min(inputBytes * 4, mmapThreshold - (std::size_t { 1 } << 20));
    void* block = std::malloc(reserve);
    if (block == nullptr)
        return;
    // The block goes back to the top of the heap when freed, where the
    // ranking's allocations then come from.
    const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto first = (reinterpret_cast<std::uintptr_t>(block) + pageSize - 1) & ~(pageSize - 1);
    const auto last = (reinterpret_cast<std::uintptr_t>(block) + reserve) & ~(pageSize - 1);
    if (last > first) {
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
    }
    std::free(block);
}

std::vector<std::string_view> splitLines(std::string_view input)
{
    std::vector<std::string_view> lines;
    lines.reserve(input.size() / 48 + 1);
    while (!input.empty()) {
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
    // Equal scores are ordered by collation, whose data takes a millisecond
    // or two to load: for a large input that happens while the heap is
    // prepared and the input split. (A small one may have no ties at all.)
    std::jthread collation;
    if (input.view().size() >= largeInput)
        collation = std::jthread(vantrel::TextUnicode::prepareCollation);
    prepareHeap(input.view().size());
    const auto lines = splitLines(input.view());
    auto self = [](std::string_view line) { return line; };
    // --plain prints no positions, so the ranking need not recover them.
    const auto ranked = vantrel::SearchRanker::rankParallel(
        lines, rest[0], vantrel::SearchScorer({}, allowMismatch), self, self, 0, !plain);

    // Written out in blocks of 64 KiB: a larger buffer would only be more
    // pages to fault in.
    constexpr std::size_t block = std::size_t { 64 } << 10;
    std::string out;
    out.reserve(block);
    for (const auto& entry : ranked) {
        if (out.size() > block - 4096) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
        if (plain) {
            vantrel::TextUnicode::appendSanitizedUtf8(entry.item, out);
            out.push_back('\n');
        } else {
            out += "{\"text\": ";
            appendString(out, entry.item);
            out += ", ";
            appendMatchFields(out, entry.match);
            out += "}\n";
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
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
