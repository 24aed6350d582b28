// Fuzzy subsequence scoring of a typed query against a window's text.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

namespace scorer {
struct MarkedLetters;
}

/// Matched scalar indices: an array of ints like std::vector<int>, except
/// that up to `inlineCapacity` of them (a query of that many scalars) live
/// in the object itself. Only longer lists go to the heap, so ranking
/// thousands of texts makes no allocation per match.
class Positions {
public:
    using value_type = int;
    using size_type = std::size_t;
    using iterator = int*;
    using const_iterator = const int*;
    static constexpr size_type inlineCapacity = 6;

    Positions() noexcept = default;
    Positions(std::initializer_list<int> values) { insert(end(), values.begin(), values.end()); }
    template <std::forward_iterator It>
    Positions(It first, It last)
    {
        insert(end(), first, last);
    }
    Positions(const Positions& other) { insert(end(), other.begin(), other.end()); }
    Positions(Positions&& other) noexcept { take(other); }
    Positions& operator=(const Positions& other)
    {
        if (this != &other) {
            clear();
            insert(end(), other.begin(), other.end());
        }
        return *this;
    }
    Positions& operator=(Positions&& other) noexcept
    {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    ~Positions() { release(); }

    size_type size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    int* data() noexcept { return data_; }
    const int* data() const noexcept { return data_; }
    iterator begin() noexcept { return data_; }
    iterator end() noexcept { return data_ + size_; }
    const_iterator begin() const noexcept { return data_; }
    const_iterator end() const noexcept { return data_ + size_; }
    int& operator[](size_type i) noexcept { return data_[i]; }
    const int& operator[](size_type i) const noexcept { return data_[i]; }
    int front() const noexcept { return data_[0]; }
    int back() const noexcept { return data_[size_ - 1]; }

    void clear() noexcept { size_ = 0; }
    void reserve(size_type capacity)
    {
        if (capacity <= capacity_)
            return;
        capacity = std::max(capacity, 2 * capacity_);
        int* grown = new int[capacity];
        std::copy(begin(), end(), grown);
        release();
        data_ = grown;
        capacity_ = capacity;
    }
    void push_back(int value)
    {
        reserve(size_ + 1);
        data_[size_++] = value;
    }
    void resize(size_type size, int value = 0)
    {
        reserve(size);
        if (size > size_)
            std::fill(data_ + size_, data_ + size, value);
        size_ = size;
    }
    void assign(size_type size, int value)
    {
        clear();
        resize(size, value);
    }
    /// Unlike std::vector's, the range must not come from this object.
    template <std::forward_iterator It>
    iterator insert(const_iterator at, It first, It last)
    {
        const auto offset = static_cast<size_type>(at - data_);
        const auto count = static_cast<size_type>(std::distance(first, last));
        reserve(size_ + count); // moves the elements: `at` is stale from here
        std::copy_backward(data_ + offset, data_ + size_, data_ + size_ + count);
        std::copy(first, last, data_ + offset);
        size_ += count;
        return data_ + offset;
    }

    friend bool operator==(const Positions& a, const Positions& b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }
    friend bool operator==(const Positions& a, const std::vector<int>& b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    bool onHeap() const noexcept { return data_ != inline_; }
    void release() noexcept
    {
        if (onHeap())
            delete[] data_;
        data_ = inline_;
        capacity_ = inlineCapacity;
    }
    /// Takes over `other`'s elements and leaves it empty.
    void take(Positions& other) noexcept
    {
        if (other.onHeap()) {
            data_ = other.data_;
            capacity_ = other.capacity_;
        } else {
            // All of the in-place array: a fixed size copies without a call.
            std::copy(std::begin(other.inline_), std::end(other.inline_), inline_);
        }
        size_ = other.size_;
        other.data_ = other.inline_;
        other.size_ = 0;
        other.capacity_ = inlineCapacity;
    }

    int* data_ = inline_;
    size_type size_ = 0;
    size_type capacity_ = inlineCapacity;
    int inline_[inlineCapacity] = {};
};

/// Decides whether a query matches a text, how well, and which characters
/// matched. A pure value: safe to use from any thread.
struct SearchScorer {
    /// The scoring constants, all in one place.
    struct Weights {
        /// Base bonus for a character right after the previous matched one (words of 3+).
        double consecutive = 1.0;
        /// Boundary bonus after a word separator.
        double wordStart = 0.8;
        /// Boundary bonus at a lower-to-upper case change.
        double camelCase = 0.7;
        /// Boundary bonus after ".".
        double afterDot = 0.6;
        /// Boundary bonus after "/" and at the first character of the text.
        double afterSlash = 0.9;
        /// Per text character before the first matched character of a word.
        double gapLeading = -0.005;
        /// Per text character after the last matched character of a word.
        double gapTrailing = -0.005;
        /// Per text character skipped between two matched characters.
        double gapInner = -0.01;
        /// Multiplier of all boundary bonuses for queries under 3 scalars.
        double shortQueryBoundaryBoost = 2.0;
        /// Consecutive bonus for words of 1 or 2 characters.
        double shortQueryConsecutive = 0.3;
        /// Added to `consecutive` per character beyond 2 in the word.
        double consecutiveGrowth = 0.15;
        /// Added once per word matched with one character left out.
        double mismatchPenalty = -1.5;

        bool operator==(const Weights&) const = default;
    };

    /// How well a text matched and where.
    struct Match {
        /// Higher is better; the largest finite double when a word is the whole
        /// text, infinity when two words are.
        double score = 0;
        /// Matched scalar indices, ascending; an index repeats when two words
        /// matched the same character.
        Positions positions;

        bool operator==(const Match&) const = default;
    };

    /// A query split into lower-cased words, prepared once for many texts.
    struct Query {
        /// The words in query order, lower-cased scalars.
        std::vector<std::u32string> words;
        /// Scalars of the query as typed, blanks included.
        int length = 0;

        bool operator==(const Query&) const = default;
    };

    /// Working memory reused across calls so that scoring many texts does not
    /// allocate per text. One per thread; the contents are meaningless outside
    /// a call.
    struct Scratch {
        std::u32string raw;
        std::u32string lower;
        std::vector<std::uint8_t> narrow;
        std::u32string variant;
        std::vector<double> H, M, B, gaps;
        std::vector<double> checkpoints;
        std::vector<std::uint8_t> flags;
        std::vector<std::uint64_t> walkBits;
        std::vector<std::uint64_t> columnBits;
        /// The texts waiting in a Batch, one after another.
        std::vector<std::uint8_t> shared;
        std::vector<int> positions;
        std::vector<int> variantPositions;
        std::vector<int> bestPositions;
        /// Of the texts lately scored with this scratch, how many were
        /// counted and how many of them failed to match: where many fail, a
        /// text is first tried on its bytes alone (cheap where it cannot
        /// match, and wasted where it does).
        std::uint32_t tried = 0;
        std::uint32_t failed = 0;
    };

    /// What scoring many texts found, one matched text after another: the id
    /// it was given, its score and, when they were asked for, its positions.
    struct Matches {
        std::vector<std::uint32_t> ids;
        std::vector<double> scores;
        /// The matched texts' positions one after another; text k's end at
        /// ends[k]. Both stay empty when positions were not asked for.
        std::vector<int> positions;
        std::vector<std::uint32_t> ends;

        void clear();
    };

    class Batch;

    /// What one text can cost: only the first this many scalars of a query,
    /// and of a text, take part in matching and scoring. A longer one is
    /// scored as if it ended there, so the cost per text stays bounded;
    /// window titles (read up to 4096 bytes) and typed queries never reach
    /// either limit.
    static constexpr std::size_t maxQueryScalars = 128;
    static constexpr std::size_t maxTextScalars = 4096;

    Weights weights {};
    bool allowOneMismatch = false;

    SearchScorer() = default;
    /// A scorer with the given constants and one-mismatch setting.
    SearchScorer(Weights weights, bool allowOneMismatch);
    bool operator==(const SearchScorer&) const = default;

    /// The full match of `query` against `text` (both UTF-8); none when it fails.
    std::optional<Match> match(std::string_view query, std::string_view text) const;
    /// match() reduced to its score.
    std::optional<double> score(std::string_view query, std::string_view text) const;

    /// Splits the query (its first maxQueryScalars) at U+0020 into
    /// lower-cased words.
    static Query prepare(std::string_view query);
    /// match() for a prepared query, using `scratch` for all working memory.
    std::optional<Match> match(const Query& query, std::string_view text, Scratch& scratch) const;
    /// match() with the positions appended to `positions` rather than
    /// returned, so that many matches can share one array; nothing is
    /// appended when the text does not match.
    std::optional<double> match(
        const Query& query, std::string_view text, Scratch& scratch, std::vector<int>& positions) const;
    /// The score of match() without recovering positions (cheaper).
    std::optional<double> score(const Query& query, std::string_view text, Scratch& scratch) const;

    /// One boundary bonus per scalar of `text`; boosted for queries under 3 scalars.
    std::vector<double> boundaryBonus(std::u32string_view text, int queryLength) const;
    /// One lower-cased word against a lower-cased text with its bonuses.
    std::optional<Match> score(std::u32string_view word, std::u32string_view text, std::span<const double> bonus) const;
    /// The best score of the word with one of its scalars left out; the earliest
    /// left-out index wins ties.
    std::optional<Match> bestDroppingOneCharacter(
        std::u32string_view word, std::u32string_view text, std::span<const double> bonus) const;
    /// Matching for texts whose lower-casing changes their length: bonuses and
    /// positions on the lower-cased text, no character ever left out.
    std::optional<Match> slowPath(const std::vector<std::u32string>& groups, std::u32string_view haystack) const;
};

/// match() (or score()) for a stream of texts and one query, with every
/// match appended to `out` in the order its text came; the results are
/// exactly those of match() and score(). Where the machine allows, texts go
/// through the tables eight at a time, one to a register lane, and wait
/// until there are enough of them to put texts of similar span together, so
/// a text's result may wait for later texts: finish() scores those still
/// waiting.
class SearchScorer::Batch {
public:
    /// Texts of at most this many scalars can share a pass; longer ones are
    /// scored alone.
    static constexpr std::size_t maxShared = 256;
    static constexpr std::size_t lanes = 8;
    /// Texts kept waiting before they are scored: eight passes' worth, so
    /// that each pass can take texts of about the same span.
    static constexpr std::size_t window = 8 * lanes;

    /// Scores for `query` with `scratch` as working memory; positions only
    /// when `positions`. All four must outlive the batch.
    Batch(const SearchScorer& scorer, const Query& query, Scratch& scratch, Matches& out, bool positions);
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    ~Batch();

    /// Scores `text` (UTF-8, needed only during the call) under `id`.
    void add(std::uint32_t id, std::string_view text);
    /// Scores the texts still waiting; `out` is then complete.
    void finish();

private:
    /// Scores a text on its own; `bytesTried` where it has been tried on
    /// its bytes, `countsAll` where every outcome is counted for the next
    /// texts' tries, not only those of ASCII texts.
    void scoreAlone(std::uint32_t id, std::string_view text, bool bytesTried = false, bool countsAll = false);
    void scoreWaiting();

    static constexpr std::size_t maxWords = 4;

    struct BytesFilter;

    const SearchScorer& scorer_;
    const Query& query_;
    Scratch& scratch_;
    Matches& out_;
    bool positions_;
    std::unique_ptr<const BytesFilter> bytes_;
    /// The words' letters as the shared pass marks them; none where this
    /// query's texts may not share passes at all.
    std::unique_ptr<const scorer::MarkedLetters> letters_;
    std::size_t waiting_ = 0;
    std::array<std::uint32_t, window> ids_ {};
    std::array<std::uint16_t, window> lengths_ {};
    /// Where each waiting text's bytes begin in the scratch, and the bytes
    /// taken so far.
    std::array<std::uint16_t, window> at_ {};
    std::size_t used_ = 0;
    /// Per word and waiting text, the columns its pass covers.
    std::array<std::array<std::uint16_t, window>, maxWords> first_ {}, last_ {};
};

namespace SearchScorerTesting {
/// Replaces the most bytes of walk-back flags one word may keep before the
/// scorer recomputes columns from checkpoints (0: the default, 16 MiB), so
/// tests can reach that path with small texts. Process-wide.
void setFlagBudget(std::size_t bytes);
} // namespace SearchScorerTesting

} // namespace vantrel
