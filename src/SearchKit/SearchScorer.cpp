// The fuzzy scorer's entry points: each text goes to the per-text kernel of
// the instruction set in use (ScorerScalar.cpp, ScorerAvx2.cpp) as ASCII, as
// a byte per scalar or decoded; a batch lets texts share the passes of
// ScorerAvx512.cpp where the machine has them. PlainScorer.cpp holds the
// algorithm as written, against which all of them are tested.
#include "SearchKit/SearchScorer.h"

#include "SearchKit/ScorerCore.h"
#include "SearchKit/TextUnicode.h"

#include <unicode/uset.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrel {

namespace scorer {

std::atomic<std::size_t> flagBudgetBytes { defaultFlagBudget };

/// The byte a scalar beyond ASCII becomes in a narrowed text, or notNarrow
/// when lower-casing could make it ASCII (the Kelvin sign) or more than
/// one scalar (U+0130), which changes the positions: only the decoded text
/// is exact then. A capital that lower-cases to one letter beyond ASCII
/// (Cyrillic, Greek) matches no ASCII word either way, and its bonuses come
/// from the text as typed, so it narrows as any other scalar. Asked once
/// per scalar and thread: narrowScalars keeps the answers.
std::uint8_t narrowClass(char32_t c)
{
    if (TextUnicode::changesWhenLowercased(c)) {
        const std::u32string lowered = TextUnicode::toLower(std::u32string_view(&c, 1));
        if (lowered.size() != 1 || lowered[0] < 128)
            return notNarrow;
    }
    return narrowBase | (isWordDash(c) ? narrowDash : 0) | (TextUnicode::isLowercase(c) ? narrowLower : 0);
}

} // namespace scorer

using namespace scorer;

namespace {

/// Whether the ASCII word is a subsequence of the text's bytes, each letter
/// found in any of its forms; sixteen bytes at a time (a text that long),
/// else eight.
bool asciiWordInBytes(std::u32string_view word, std::string_view text, const CaseTables& cases)
{
#if defined(__SSE2__)
    if (text.size() >= 16) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        const std::size_t n = text.size();
        std::size_t at = 0; // where the next letter may begin
        for (const char32_t letter : word) {
            if (cases.formCount[letter] == 0)
                return false;
            const __m128i a = _mm_set1_epi8(static_cast<char>(cases.forms[letter][0]));
            const __m128i b = _mm_set1_epi8(static_cast<char>(cases.forms[letter][1]));
            for (;;) {
                if (at >= n)
                    return false;
                // Past the last whole chunk, the sixteen bytes that end the
                // text, those before `at` left out.
                const std::size_t base = std::min(at, n - 16);
                const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + base));
                const auto skip = static_cast<unsigned>(at - base);
                const unsigned hits = static_cast<unsigned>(
                    _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(here, a), _mm_cmpeq_epi8(here, b)))) >> skip << skip;
                if (hits != 0) {
                    at = base + static_cast<std::size_t>(std::countr_zero(hits)) + 1;
                    break;
                }
                at = base + 16;
            }
        }
        return true;
    }
#endif
    constexpr std::uint64_t ones = 0x0101010101010101;
    constexpr std::uint64_t highs = 0x8080808080808080;
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::uint8_t* const end = p + text.size();
    for (const char32_t letter : word) {
        if (cases.formCount[letter] == 0)
            return false;
        const std::uint8_t a = cases.forms[letter][0];
        const std::uint8_t b = cases.forms[letter][1];
        const std::uint64_t aa = ones * a;
        const std::uint64_t bb = ones * b;
        for (;;) {
            if (end - p < 8 || std::endian::native != std::endian::little) {
                while (p != end && *p != a && *p != b)
                    ++p;
                if (p == end)
                    return false;
                break;
            }
            std::uint64_t bytes = 0;
            std::memcpy(&bytes, p, 8);
            // The lowest high bit marks the first byte equal to a or b.
            const std::uint64_t xa = bytes ^ aa;
            const std::uint64_t xb = bytes ^ bb;
            if (const std::uint64_t hit = (((xa - ones) & ~xa) | ((xb - ones) & ~xb)) & highs; hit != 0) {
                p += std::countr_zero(hit) / 8;
                break;
            }
            p += 8;
        }
        ++p;
    }
    return true;
}

/// The UTF-8 forms of every scalar that is `c` once lower-cased alone: those
/// of its case-insensitive closure, which holds them all (the tests ask ICU
/// about every scalar), that are `c` or that lower-casing changes. Only
/// U+0130 lower-cases into more than one scalar, one of them perhaps `c`;
/// texts that hold it are not ruled out on their bytes. Kept per thread for
/// the scalars of recent queries.
const std::vector<std::string>& formsOf(char32_t c)
{
    thread_local std::vector<std::pair<char32_t, std::vector<std::string>>> known;
    for (const auto& [scalar, forms] : known)
        if (scalar == c)
            return forms;
    if (known.size() >= 64)
        known.clear();
    std::vector<std::string> forms;
    std::unique_ptr<USet, decltype(&uset_close)> closure(uset_openEmpty(), uset_close);
    uset_add(closure.get(), static_cast<UChar32>(c));
    uset_closeOver(closure.get(), USET_CASE_INSENSITIVE);
    for (int32_t item = 0; item < uset_getItemCount(closure.get()); ++item) {
        UChar32 first = 0;
        UChar32 last = 0;
        UErrorCode status = U_ZERO_ERROR;
        // Strings of the closure fold alike but are no lower-case form.
        if (uset_getItem(closure.get(), item, &first, &last, nullptr, 0, &status) != 0)
            continue;
        for (UChar32 scalar = first; scalar <= last; ++scalar) {
            // One that lower-casing leaves alone (as the small narrow o,
            // U+1C82, in the closure of o) is only ever itself.
            if (static_cast<char32_t>(scalar) != c && !TextUnicode::changesWhenLowercased(static_cast<char32_t>(scalar)))
                continue;
            forms.push_back(TextUnicode::utf8(std::u32string(1, static_cast<char32_t>(scalar))));
        }
    }
    known.emplace_back(c, std::move(forms));
    return known.back().second;
}

/// Where `form`, the UTF-8 of one scalar, first begins in `text` at or
/// after `from` and before `before`; npos when it does not. Searched for by
/// its last byte: its first is shared by every letter of its script.
std::size_t findForm(std::string_view text, std::string_view form, std::size_t from, std::size_t before)
{
    const std::size_t lead = form.size() - 1;
    const std::size_t end = std::min(text.size(), before == std::string_view::npos ? text.size() : before + lead);
    for (std::size_t at = from + lead; at < end;) {
        const void* hit = std::memchr(text.data() + at, form.back(), end - at);
        if (hit == nullptr)
            break;
        at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        if (text.compare(at - lead, lead, form, 0, lead) == 0)
            return at - lead;
        ++at;
    }
    return std::string_view::npos;
}

#if defined(__SSE2__)
/// The most forms firstOfForms looks for at once.
constexpr std::size_t maxFormsAtOnce = 4;

/// Where the first of `forms`, F of them, that begins at or after `from`
/// begins, and its length in `length`; npos when none does. For a text of
/// at least sixteen bytes: they are looked at sixteen at a time for the last
/// byte of every form at once, and only where one is found for the bytes
/// before it. (Two scalars' sequences never overlap, so the form that ends
/// first begins first too.) F known to the compiler keeps the loops over the
/// forms, run for every chunk and every byte found, unrolled.
template <std::size_t F>
std::size_t firstOfFormsOf(std::string_view text, const std::vector<std::string>& forms, std::size_t from, std::size_t& length)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::size_t n = text.size();
    __m128i lastBytes[F];
    for (std::size_t f = 0; f < F; ++f)
        lastBytes[f] = _mm_set1_epi8(forms[f].back());
    for (std::size_t chunk = from; chunk < n; chunk += 16) {
        // The last chunk is the sixteen bytes that end the text, its bytes
        // before `chunk` already looked at.
        const std::size_t base = std::min(chunk, n - 16);
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + base));
        __m128i same = _mm_cmpeq_epi8(here, lastBytes[0]);
        for (std::size_t f = 1; f < F; ++f)
            same = _mm_or_si128(same, _mm_cmpeq_epi8(here, lastBytes[f]));
        auto ends = static_cast<unsigned>(_mm_movemask_epi8(same)) >> (chunk - base) << (chunk - base);
        for (; ends != 0; ends &= ends - 1) {
            const std::size_t end = base + static_cast<std::size_t>(std::countr_zero(ends));
            for (std::size_t f = 0; f < F; ++f) {
                const std::string& form = forms[f];
                const std::size_t lead = form.size() - 1;
                if (bytes[end] == static_cast<std::uint8_t>(form.back()) && end >= from + lead
                    && std::equal(form.begin(), form.end() - 1, bytes + end - lead,
                        [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
                    length = form.size();
                    return end - lead;
                }
            }
        }
    }
    return std::string_view::npos;
}

/// firstOfFormsOf for up to maxFormsAtOnce forms.
std::size_t firstOfForms(std::string_view text, const std::vector<std::string>& forms, std::size_t from, std::size_t& length)
{
    static_assert(maxFormsAtOnce == 4, "a case for every count of forms");
    switch (forms.size()) {
    case 1:
        return firstOfFormsOf<1>(text, forms, from, length);
    case 2:
        return firstOfFormsOf<2>(text, forms, from, length);
    case 3:
        return firstOfFormsOf<3>(text, forms, from, length);
    case 4:
        return firstOfFormsOf<4>(text, forms, from, length);
    default:
        return std::string_view::npos;
    }
}
#endif

/// Whether the word, which has scalars beyond ASCII, is a subsequence of
/// the text's scalars each in any form that lower-cases to it, found on the
/// text's bytes; `formsOf(i)` gives the forms of the word's scalar i.
template <class FormsOf>
bool wordInBytes(std::u32string_view word, std::string_view text, FormsOf formsOf)
{
    std::size_t at = 0;
    for (std::size_t i = 0; i < word.size(); ++i) {
        // An ill-formed sequence is U+FFFD without its bytes.
        if (word[i] == TextUnicode::replacementCharacter)
            return true;
        std::size_t next = std::string_view::npos;
        std::size_t length = 0;
        const std::vector<std::string>& forms = formsOf(i);
#if defined(__SSE2__)
        if (forms.size() <= maxFormsAtOnce && text.size() >= 16) {
            next = firstOfForms(text, forms, at, length);
            if (next == std::string_view::npos)
                return false;
            at = next + length;
            continue;
        }
#endif
        for (const std::string& form : forms) {
            const std::size_t found = findForm(text, form, at, next);
            if (found != std::string_view::npos && found < next) {
                next = found;
                length = form.size();
            }
        }
        if (next == std::string_view::npos)
            return false;
        at = next + length;
    }
    return true;
}

/// Whether the word has a scalar beyond ASCII.
bool hasBeyondAscii(std::u32string_view word)
{
    return std::any_of(word.begin(), word.end(), [](char32_t c) { return c >= 128; });
}

/// Whether a scalar lower-casing into ASCII, or into more than one scalar,
/// could supply a letter of the word that the text's bytes do not show.
bool loweringMaySupply(std::u32string_view word)
{
    return std::any_of(word.begin(), word.end(), TextUnicode::isLoweredIntoFromBeyondAscii);
}

/// bytesMayMatch's answer for one word of the query, which has a scalar
/// beyond ASCII or not: true where the word is in the text's bytes (see
/// wordInBytes and asciiWordInBytes), else whether
/// lowering may supply a letter (`maySupply()`) and the text has a scalar
/// that would.
template <class FormsOf, class MaySupply>
bool wordMayMatch(std::u32string_view word, bool beyondAscii, std::string_view text, const CaseTables& cases,
    FormsOf formsOf, MaySupply maySupply)
{
    if (beyondAscii ? wordInBytes(word, text, formsOf) : asciiWordInBytes(word, text, cases))
        return true;
    return maySupply() && TextUnicode::anyBeyondAsciiLowersIntoAscii(text);
}

/// False only where the text certainly cannot match: some word (one that
/// must match whole) is no subsequence of its bytes in any form of each
/// letter, and no scalar that lower-cases into more than one could supply
/// the missing letter. Far cheaper than narrowing or decoding a text that
/// most queries' letters miss. (A batch asks the same of its texts with
/// what it works out of the words once: see Batch::BytesFilter.)
bool bytesMayMatch(const SearchScorer& scorer, const SearchScorer::Query& query, std::string_view text)
{
    const CaseTables& cases = caseTables();
    if (!cases.twoFormsAtMost)
        return true;
    for (const auto& word : query.words) {
        if (scorer.allowOneMismatch && word.size() >= 2)
            continue;
        auto forms = [&word](std::size_t i) -> const std::vector<std::string>& { return formsOf(word[i]); };
        if (!wordMayMatch(word, hasBeyondAscii(word), text, cases, forms, [&word] { return loweringMaySupply(word); }))
            return false;
    }
    return true;
}

/// bytesMayMatch for an ASCII text, whose bytes are its scalars: false
/// where a word of ASCII letters that must match whole is no subsequence of
/// them. Much cheaper than the column bits of every letter, which a text
/// that cannot match need not have.
bool asciiTextMayMatch(const SearchScorer& scorer, const SearchScorer::Query& query, std::string_view text)
{
    const CaseTables& cases = caseTables();
    if (!cases.twoFormsAtMost)
        return true;
    for (const auto& word : query.words) {
        if ((scorer.allowOneMismatch && word.size() >= 2)
            || std::any_of(word.begin(), word.end(), [](char32_t c) { return c >= 128; }))
            continue;
        if (!asciiWordInBytes(word, text, cases))
            return false;
    }
    return true;
}

/// Whether texts are worth trying on their bytes before the column bits of
/// every letter are made: where at least `eighths` eighths of those lately
/// scored with `scratch` failed to match. The order of the tests changes
/// the cost alone, never the result.
bool tryBytesFirst(const SearchScorer::Scratch& scratch, std::uint32_t eighths)
{
    return 8 * std::uint64_t { scratch.failed } >= std::uint64_t { eighths } * scratch.tried;
}

/// Counts a text scored with `scratch` (see tryBytesFirst); the counts are
/// halved now and then, so that they follow the query of the moment.
void countTried(SearchScorer::Scratch& scratch, bool matched)
{
    if (++scratch.tried == 1024) {
        scratch.tried /= 2;
        scratch.failed /= 2;
    }
    scratch.failed += matched ? 0 : 1;
}

/// bytesMayMatch for a text of at most Batch::maxShared bytes whose bytes
/// SharedKernel::keepAndMark marked: a word's bits are its subsequence test.
bool markedMayMatch(
    const SearchScorer& scorer, const SearchScorer::Query& query, std::string_view text, const std::uint64_t* bits)
{
    const std::size_t blocks = (text.size() + 63) / 64;
    for (std::size_t w = 0; w < query.words.size(); ++w) {
        const std::size_t m = query.words[w].size();
        if (scorer.allowOneMismatch && m >= 2)
            continue;
        if (!subsequenceSpan(ColumnBits { bits + 4 * w * blocks, blocks }, m))
            return loweringMaySupply(query.words[w]) && TextUnicode::anyBeyondAsciiLowersIntoAscii(text);
    }
    return true;
}

/// The first byte of an `n`-byte text marked (see markedMayMatch) as the
/// first letter of one of `words` words: where a match of the words, each
/// whole, may begin; `n` where none is marked.
std::size_t firstMarkedStart(std::size_t words, std::size_t n, const std::uint64_t* bits)
{
    const std::size_t blocks = (n + 63) / 64;
    std::size_t first = n;
    for (std::size_t w = 0; w < words; ++w) {
        const std::uint64_t* row = bits + 4 * w * blocks;
        for (std::size_t k = 0; k < blocks && 64 * k < first; ++k)
            if (row[k] != 0) {
                first = std::min(first, 64 * k + static_cast<std::size_t>(std::countr_zero(row[k])));
                break;
            }
    }
    return first;
}

/// narrowScalars(text, out, narrowClass) for a text none of whose scalars
/// before byte `from` (ASCII, or the text's end) can be matched. Of those,
/// only the one just before `from` is narrowed: a match there takes its
/// bonus from it. The others are counted and stand as narrowBase, which no
/// match or bonus ever reads. In titles beyond Latin the letters of an
/// ASCII word mostly come late (in the application's name), and narrowing
/// every scalar on the way would cost more than the rest of the scoring.
/// (Counting takes well-formed text, and narrowing refuses only what
/// lower-cases into ASCII: a start that is not well-formed or holds such a
/// scalar is narrowed in full.)
std::ptrdiff_t narrowFrom(std::string_view text, std::size_t from, std::uint8_t* out)
{
    constexpr std::size_t worthCounting = 16;
    const std::string_view before = text.substr(0, from);
    if (before.size() >= worthCounting) {
        if (const auto count = TextUnicode::countScalarsNoneLoweringIntoAscii(before)) {
            std::size_t last = before.size() - 1;
            while ((static_cast<std::uint8_t>(text[last]) & 0xC0) == 0x80)
                --last;
            const std::size_t counted = *count - 1;
            std::memset(out, narrowBase, counted);
            const std::ptrdiff_t rest = TextUnicode::narrowScalars(text.substr(last), out + counted, narrowClass);
            return rest < 0 ? rest : rest + static_cast<std::ptrdiff_t>(counted);
        }
    }
    return TextUnicode::narrowScalars(text, out, narrowClass);
}

/// Whether narrowFrom may gain from knowing where a match may begin: the
/// text begins beyond ASCII. (Narrowing a beginning of ASCII costs little,
/// and one seldom goes on to much that is not.)
inline bool beginsBeyondAscii(std::string_view text)
{
#if defined(__SSE2__)
    return text.size() >= 16 && _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data()))) != 0;
#else
    return text.size() >= 16 && !TextUnicode::isAscii(text.substr(0, 16));
#endif
}

/// The first byte of `text` at which a match of the ASCII `words` may
/// begin: one of the forms of a word's first letter; the text's end where
/// there is none. 0, which promises nothing, for more words than are
/// looked for at once, and where a letter may be left out (a word's second
/// letter may then begin its match).
std::size_t firstWordStart(
    const SearchScorer& scorer, const std::vector<std::u32string>& words, std::string_view text, const CaseTables& cases)
{
    constexpr std::size_t most = 4;
    if (scorer.allowOneMismatch || words.empty() || words.size() > most)
        return 0;
    std::array<std::uint8_t, 2 * most> wanted {};
    const std::size_t forms = 2 * words.size();
    for (std::size_t w = 0; w < words.size(); ++w) {
        if (words[w].empty())
            return 0;
        wanted[2 * w] = cases.forms[words[w][0]][0];
        wanted[2 * w + 1] = cases.forms[words[w][0]][1];
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    std::size_t i = 0;
#if defined(__SSE2__)
    // The wanted bytes among the sixteen from `at`, one bit each.
    auto found = [&](std::size_t at) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
        __m128i any = _mm_setzero_si128();
        for (std::size_t f = 0; f < forms; ++f)
            any = _mm_or_si128(any, _mm_cmpeq_epi8(chunk, _mm_set1_epi8(static_cast<char>(wanted[f]))));
        return static_cast<unsigned>(_mm_movemask_epi8(any));
    };
    for (; i + 16 <= text.size(); i += 16)
        if (const unsigned here = found(i); here != 0)
            return i + static_cast<std::size_t>(std::countr_zero(here));
    if (i < text.size() && text.size() >= 16) {
        // The last sixteen bytes, those looked at already left out.
        const unsigned here = found(text.size() - 16) >> (16 - (text.size() - i));
        return here != 0 ? i + static_cast<std::size_t>(std::countr_zero(here)) : text.size();
    }
#endif
    for (; i < text.size(); ++i)
        if (std::find(wanted.begin(), wanted.begin() + static_cast<std::ptrdiff_t>(forms), bytes[i]) != wanted.begin() + static_cast<std::ptrdiff_t>(forms))
            return i;
    return text.size();
}

// The kernel in use, for each kind of text.
std::optional<double> matchWords(const SearchScorer& scorer, const std::vector<std::u32string>& words,
    const AsciiText& text, Scratch& scratch, std::vector<int>* positions, bool allowOneMismatch)
{
    return perTextKernel().matchAscii(scorer, words, text, scratch, positions, allowOneMismatch);
}

std::optional<double> matchWords(const SearchScorer& scorer, const std::vector<std::u32string>& words,
    const ScalarText& text, Scratch& scratch, std::vector<int>* positions, bool allowOneMismatch)
{
    return perTextKernel().matchDecoded(scorer, words, text, scratch, positions, allowOneMismatch);
}

int wordsLength(const std::vector<std::u32string>& words)
{
    std::size_t length = 0;
    for (const auto& word : words)
        length += word.size();
    return static_cast<int>(length);
}

/// run for a text beyond ASCII that its bytes do not rule out.
std::optional<double> runBeyondAscii(const SearchScorer& scorer, const SearchScorer::Query& query, std::string_view text,
    Scratch& scratch, std::vector<int>* positions, const Boundaries& b)
{
    // For ASCII words, scalars beyond ASCII that lower-casing leaves alone
    // matter only through their boundary bonuses, so the text need not be
    // decoded: a byte per scalar does.
    const bool asciiWords = std::all_of(query.words.begin(), query.words.end(),
        [](const std::u32string& word) { return std::all_of(word.begin(), word.end(), [](char32_t c) { return c < 128; }); });
    if (asciiWords) {
        growTo(scratch.narrow, text.size());
        const std::ptrdiff_t n
            = narrowFrom(text, beginsBeyondAscii(text) ? firstWordStart(scorer, query.words, text, caseTables()) : 0,
                scratch.narrow.data());
        if (n >= 0) {
            const AsciiText view { scratch.narrow.data(), static_cast<std::size_t>(n), b };
            return matchWords(scorer, query.words, view, scratch, positions, scorer.allowOneMismatch);
        }
    }
    if (!perTextKernel().couldMatch(scorer, query, text, scratch))
        return std::nullopt;
    if (scratch.raw.size() < text.size()) {
        scratch.raw.resize(text.size());
        scratch.lower.resize(text.size());
    }
    const char32_t* raw = scratch.raw.data();
    char32_t* lower = scratch.lower.data();
    // The capital sigma and U+0130 need the whole-string mapping (final
    // sigma depends on its neighbours; U+0130 grows).
    bool contextual = false;
    const std::size_t n = TextUnicode::decodeLowered(text, scratch.raw.data(), lower, contextual);
    if (contextual) {
        const std::u32string lowered = TextUnicode::toLower(std::u32string_view(raw, n));
        if (lowered.size() != n) {
            // The slow path: everything on the lower-cased scalars.
            const ScalarText view { lowered.data(), lowered.data(), lowered.size(),
                boundaries(scorer.weights, wordsLength(query.words)) };
            return matchWords(scorer, query.words, view, scratch, positions, false);
        }
        std::copy(lowered.begin(), lowered.end(), lower);
    }
    const ScalarText view { raw, lower, n, b };
    return matchWords(scorer, query.words, view, scratch, positions, scorer.allowOneMismatch);
}

/// What the caller of run has done for it: whether the text was already
/// tried on its bytes (bytesMayMatch held), and whether every outcome is to
/// be counted (see countTried), not only those of ASCII texts.
struct RunCaller {
    bool bytesTried = false;
    bool countsAll = false;
};

/// The common path of match() and score(): `positions` null for score only.
std::optional<double> run(const SearchScorer& scorer, const SearchScorer::Query& query, std::string_view text,
    Scratch& scratch, std::vector<int>* positions, RunCaller caller = {})
{
    if (query.words.empty())
        return 0.0;
    if (text.size() > SearchScorer::maxTextScalars)
        text = TextUnicode::leadingScalars(text, SearchScorer::maxTextScalars);
    const Boundaries b = boundaries(scorer.weights, query.length);
    if (TextUnicode::isAscii(text)) {
        // ASCII lower-cases scalar by scalar without changing length.
        if (!caller.bytesTried && tryBytesFirst(scratch, 1) && !asciiTextMayMatch(scorer, query, text)) {
            countTried(scratch, false);
            return std::nullopt;
        }
        const AsciiText view { reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), b };
        auto result = matchWords(scorer, query.words, view, scratch, positions, scorer.allowOneMismatch);
        countTried(scratch, result.has_value());
        return result;
    }
    if (!caller.bytesTried && !bytesMayMatch(scorer, query, text)) {
        if (caller.countsAll)
            countTried(scratch, false);
        return std::nullopt;
    }
    auto result = runBeyondAscii(scorer, query, text, scratch, positions, b);
    if (caller.countsAll)
        countTried(scratch, result.has_value());
    return result;
}

} // namespace

SearchScorer::SearchScorer(Weights weights, bool allowOneMismatch)
    : weights(weights)
    , allowOneMismatch(allowOneMismatch)
{
}

SearchScorer::Query SearchScorer::prepare(std::string_view query)
{
    query = TextUnicode::leadingScalars(query, maxQueryScalars);
    Query prepared;
    prepared.length = static_cast<int>(TextUnicode::scalars(query).size());
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find(' ', start);
        if (end == std::string_view::npos)
            end = query.size();
        if (end > start)
            prepared.words.push_back(TextUnicode::toLower(TextUnicode::scalars(query.substr(start, end - start))));
        start = end + 1;
    }
    return prepared;
}

std::optional<SearchScorer::Match> SearchScorer::match(const Query& query, std::string_view text, Scratch& scratch) const
{
    scratch.positions.clear();
    auto total = match(query, text, scratch, scratch.positions);
    if (!total)
        return std::nullopt;
    return Match { *total, Positions(scratch.positions.begin(), scratch.positions.end()) };
}

namespace {
/// match() into `positions`, for run's caller `caller`.
std::optional<double> matchInto(const SearchScorer& scorer, const SearchScorer::Query& query, std::string_view text,
    Scratch& scratch, std::vector<int>& positions, RunCaller caller)
{
    const std::size_t base = positions.size();
    auto total = run(scorer, query, text, scratch, &positions, caller);
    if (!total) {
        positions.resize(base); // words matched before the one that failed
        return std::nullopt;
    }
    // One word's positions come out ascending; only several words need a sort.
    if (query.words.size() > 1)
        std::sort(positions.begin() + static_cast<std::ptrdiff_t>(base), positions.end());
    return total;
}
} // namespace

std::optional<double> SearchScorer::match(
    const Query& query, std::string_view text, Scratch& scratch, std::vector<int>& positions) const
{
    return matchInto(*this, query, text, scratch, positions, {});
}

std::optional<double> SearchScorer::score(const Query& query, std::string_view text, Scratch& scratch) const
{
    return run(*this, query, text, scratch, nullptr);
}

void SearchScorer::Matches::clear()
{
    ids.clear();
    scores.clear();
    positions.clear();
    ends.clear();
}

namespace {
/// Room after the last waiting text for every load of the shared pass: it
/// reads 65 bytes from the byte before any column it covers, and a pass
/// may go on past a short text's end for as long as its longest text.
constexpr std::size_t sharedTail = 1 + 2 * SearchScorer::Batch::maxShared + 64;
/// Bytes kept for a window of texts: each text's in whole blocks of 64
/// after the byte before it, then the tail.
constexpr std::size_t sharedBytes = SearchScorer::Batch::window * (1 + SearchScorer::Batch::maxShared) + sharedTail;
/// Walk-back words per lane: three facts for each of four rows and block.
constexpr std::size_t sharedFactWords = factCount * 4 * (SearchScorer::Batch::maxShared / 64);
} // namespace

/// What bytesMayMatch works out of the query's words for each text, worked
/// out once for all the texts of a batch: the words it tries, whether each
/// has letters beyond ASCII (and then their forms, copied: formsOf keeps
/// those of a few letters only), and whether lowering could supply one.
struct SearchScorer::Batch::BytesFilter {
    struct Word {
        std::u32string_view letters;
        bool beyondAscii = false;
        bool maySupply = false;
        std::vector<std::vector<std::string>> forms;
    };
    bool tries = false;
    std::vector<Word> words;

    BytesFilter(const SearchScorer& scorer, const Query& query)
        : tries(caseTables().twoFormsAtMost)
    {
        for (const std::u32string& word : query.words) {
            if (scorer.allowOneMismatch && word.size() >= 2)
                continue;
            Word& kept = words.emplace_back();
            kept.letters = word;
            kept.beyondAscii = hasBeyondAscii(word);
            kept.maySupply = loweringMaySupply(word);
            if (kept.beyondAscii)
                for (const char32_t letter : word)
                    kept.forms.push_back(formsOf(letter));
        }
    }

    /// bytesMayMatch(scorer, query, text).
    bool mayMatch(std::string_view text) const
    {
        if (!tries)
            return true;
        const CaseTables& cases = caseTables();
        for (const Word& word : words) {
            auto forms = [&word](std::size_t i) -> const std::vector<std::string>& { return word.forms[i]; };
            if (!wordMayMatch(word.letters, word.beyondAscii, text, cases, forms, [&word] { return word.maySupply; }))
                return false;
        }
        return true;
    }
};

SearchScorer::Batch::Batch(const SearchScorer& scorer, const Query& query, Scratch& scratch, Matches& out, bool positions)
    : scorer_(scorer)
    , query_(query)
    , scratch_(scratch)
    , out_(out)
    , positions_(positions)
    , bytes_(std::make_unique<BytesFilter>(scorer, query))
{
    // The shared pass takes short words of ASCII; an empty query matches
    // everything without a pass.
    const bool shared = scorer::sharedKernel() != nullptr && caseTables().twoFormsAtMost && !query.words.empty()
        && query.words.size() <= maxWords
        && std::all_of(query.words.begin(), query.words.end(), [](const std::u32string& word) {
               return word.size() <= 4 && std::all_of(word.begin(), word.end(), [](char32_t c) { return c < 128; });
           });
    if (shared) {
        letters_ = std::make_unique<const scorer::MarkedLetters>(query.words, caseTables());
        growTo(scratch_.shared, sharedBytes);
        growTo(scratch_.walkBits, lanes * sharedFactWords);
        growTo(scratch_.columnBits, maxWords * 4 * (maxShared / 64));
    }
}

SearchScorer::Batch::~Batch() = default;

void SearchScorer::Batch::add(std::uint32_t id, std::string_view text)
{
    const SharedKernel* shared = sharedKernel();
    if (!letters_ || shared == nullptr) {
        // Texts scored one by one: where many lately failed, one that
        // cannot match is turned away on its bytes here, before the calls
        // that lead to scoring it (where that test would come first, on
        // the scalars that take part: however long the text, the test
        // reads no more).
        const bool tried = tryBytesFirst(scratch_, 1);
        if (tried
            && !bytes_->mayMatch(text.size() > maxTextScalars ? TextUnicode::leadingScalars(text, maxTextScalars) : text))
            return countTried(scratch_, false);
        return scoreAlone(id, text, tried, true);
    }
    // The text goes straight to its place among the waiting ones, marked
    // on the way; one beyond ASCII is narrowed first.
    const CaseTables& cases = caseTables();
    const std::size_t slot = waiting_;
    std::uint8_t* kept = scratch_.shared.data() + used_;
    std::uint64_t* bits = scratch_.columnBits.data();
    std::size_t n = text.size();
    const bool fits = n <= maxShared;
    // Where many texts fail, one that cannot match is found on its bytes
    // before any is copied or marked.
    if (fits && tryBytesFirst(scratch_, 6) && !bytes_->mayMatch(text))
        return countTried(scratch_, false);
    if (!fits
        || !shared->keepAndMark(reinterpret_cast<const std::uint8_t*>(text.data()), n, *letters_, cases, kept + 1, bits, true)) {
        // (keepAndMark refuses a text it takes only for a byte beyond ASCII,
        // and has marked its bytes even so.)
        // (No scalar takes more than four bytes: a longer text has too many.)
        if (n > 4 * maxShared || (n > maxShared && TextUnicode::isAscii(text)))
            return scoreAlone(id, text);
        if (fits ? !markedMayMatch(scorer_, query_, text, bits) : !bytes_->mayMatch(text))
            return countTried(scratch_, false);
        // (A text is scored here only where every word matches whole; a
        // word matched with a letter left out is scored alone.)
        const std::size_t from = fits && beginsBeyondAscii(text) ? firstMarkedStart(query_.words.size(), n, bits) : 0;
        growTo(scratch_.narrow, text.size());
        const std::ptrdiff_t narrowed = narrowFrom(text, from, scratch_.narrow.data());
        if (narrowed < 0 || static_cast<std::size_t>(narrowed) > maxShared)
            return scoreAlone(id, text);
        n = static_cast<std::size_t>(narrowed);
        shared->keepAndMark(scratch_.narrow.data(), n, *letters_, cases, kept + 1, bits, false);
    }
    const std::size_t blocks = (n + 63) / 64;
    for (std::size_t w = 0; w < query_.words.size(); ++w) {
        const std::size_t m = query_.words[w].size();
        const auto span = subsequenceSpan(ColumnBits { bits + 4 * w * blocks, blocks }, m);
        if (!span) {
            // A word that fails may still match with a character left out.
            if (scorer_.allowOneMismatch && m >= 2)
                return scoreAlone(id, text);
            return countTried(scratch_, false);
        }
        if (m == n)
            return scoreAlone(id, text); // the word is the whole text
        first_[w][slot] = static_cast<std::uint16_t>(span->first);
        last_[w][slot] = static_cast<std::uint16_t>(span->last);
    }
    countTried(scratch_, true);
    kept[0] = '/';
    ids_[slot] = id;
    at_[slot] = static_cast<std::uint16_t>(used_);
    used_ += 1 + 64 * ((n + 63) / 64);
    lengths_[slot] = static_cast<std::uint16_t>(n);
    if (++waiting_ == window)
        scoreWaiting();
}

void SearchScorer::Batch::finish()
{
    scoreWaiting();
}

void SearchScorer::Batch::scoreAlone(std::uint32_t id, std::string_view text, bool bytesTried, bool countsAll)
{
    // Texts that waited came first.
    if (waiting_ != 0)
        scoreWaiting();
    const RunCaller caller { bytesTried, countsAll };
    std::optional<double> score;
    if (positions_)
        score = matchInto(scorer_, query_, text, scratch_, out_.positions, caller);
    else
        score = run(scorer_, query_, text, scratch_, nullptr, caller);
    if (!score)
        return;
    out_.ids.push_back(id);
    out_.scores.push_back(*score);
    if (positions_)
        out_.ends.push_back(static_cast<std::uint32_t>(out_.positions.size()));
}

void SearchScorer::Batch::scoreWaiting()
{
    const std::size_t count = std::exchange(waiting_, 0);
    used_ = 0;
    // Texts wait only where the kernel in use shares passes.
    const SharedKernel* shared = sharedKernel();
    if (count == 0 || shared == nullptr)
        return;
    const Weights& weights = scorer_.weights;
    const Boundaries b = boundaries(weights, query_.length);
    const std::size_t words = query_.words.size();
    // Passes take texts in order of span, so that eight texts of about the
    // same span share each: a pass lasts as long as its longest. Spans
    // counted in fours are sorted by counting, without a branch.
    constexpr std::size_t kinds = maxShared / 4;
    std::array<std::uint8_t, window> kind {};
    std::array<std::uint8_t, kinds + 1> starts {};
    for (std::size_t k = 0; k < count; ++k) {
        std::size_t span = 0;
        for (std::size_t w = 0; w < words; ++w)
            span = std::max<std::size_t>(span, last_[w][k] - first_[w][k]);
        kind[k] = static_cast<std::uint8_t>(span / 4);
        ++starts[kind[k] + 1u];
    }
    for (std::size_t s = 1; s <= kinds; ++s)
        starts[s] = static_cast<std::uint8_t>(starts[s] + starts[s - 1]);
    std::array<std::uint8_t, window> byspan {};
    for (std::size_t k = 0; k < count; ++k)
        byspan[starts[kind[k]]++] = static_cast<std::uint8_t>(k);

    std::array<double, window> total {};
    std::array<std::array<int, maxWords * 4>, window> found;
    std::uint64_t* facts = positions_ ? scratch_.walkBits.data() : nullptr;
    for (std::size_t group = 0; group < count; group += lanes) {
        SharedLanes in;
        in.count = std::min(lanes, count - group);
        for (std::size_t w = 0; w < words; ++w) {
            const std::u32string& word = query_.words[w];
            const std::size_t m = word.size();
            const double c = m > 2 ? weights.consecutive + weights.consecutiveGrowth * static_cast<double>(m - 2)
                                   : weights.shortQueryConsecutive;
            for (std::size_t L = 0; L < in.count; ++L) {
                const std::size_t k = byspan[group + L];
                in.bytes[L] = scratch_.shared.data() + at_[k];
                in.lengths[L] = lengths_[k];
                in.first[L] = first_[w][k];
                in.last[L] = last_[w][k];
            }
            std::array<double, lanes> scores;
            shared->wordPass(in, word, weights, b, c, scores.data(), facts, sharedFactWords);
            for (std::size_t L = 0; L < in.count; ++L) {
                const std::size_t k = byspan[group + L];
                // The columns after the last match only add the trailing gap.
                total[k] += addedInTurn(scores[L], weights.gapTrailing, in.lengths[L] - 1u - in.last[L]);
                if (facts == nullptr)
                    continue;
                walkBackOnBits(WalkBits { facts + L * sharedFactWords, m, 0 }, m, 0, in.last[L] - in.first[L],
                    found[k].data() + 4 * w, in.first[L]);
            }
        }
    }
    for (std::size_t k = 0; k < count; ++k) {
        out_.ids.push_back(ids_[k]);
        out_.scores.push_back(total[k]);
        if (!positions_)
            continue;
        const std::size_t base = out_.positions.size();
        for (std::size_t w = 0; w < words; ++w)
            out_.positions.insert(out_.positions.end(), found[k].begin() + static_cast<std::ptrdiff_t>(4 * w),
                found[k].begin() + static_cast<std::ptrdiff_t>(4 * w + query_.words[w].size()));
        // One word's positions come out ascending; only several need a sort.
        if (words > 1)
            std::sort(out_.positions.begin() + static_cast<std::ptrdiff_t>(base), out_.positions.end());
        out_.ends.push_back(static_cast<std::uint32_t>(out_.positions.size()));
    }
}

std::optional<SearchScorer::Match> SearchScorer::match(std::string_view query, std::string_view text) const
{
    Scratch scratch;
    return match(prepare(query), text, scratch);
}

std::optional<double> SearchScorer::score(std::string_view query, std::string_view text) const
{
    Scratch scratch;
    return score(prepare(query), text, scratch);
}

std::vector<double> SearchScorer::boundaryBonus(std::u32string_view text, int queryLength) const
{
    const Boundaries b = boundaries(weights, queryLength);
    std::vector<double> bonus(text.size());
    for (std::size_t j = 0; j < text.size(); ++j)
        bonus[j] = j == 0 ? b.afterSlash : boundaryBetween(b, text[j - 1], text[j]);
    return bonus;
}

std::optional<SearchScorer::Match> SearchScorer::score(
    std::u32string_view word, std::u32string_view text, std::span<const double> bonus) const
{
    if (bonus.size() < text.size())
        return std::nullopt;
    Scratch scratch;
    const GivenBonusText view { text.data(), bonus.data(), text.size() };
    std::vector<int> positions;
    auto result = perTextKernel().scoreWord(weights, word, view, scratch, &positions);
    if (!result)
        return std::nullopt;
    return Match { *result, Positions(positions.begin(), positions.end()) };
}

std::optional<SearchScorer::Match> SearchScorer::bestDroppingOneCharacter(
    std::u32string_view word, std::u32string_view text, std::span<const double> bonus) const
{
    if (bonus.size() < text.size())
        return std::nullopt;
    Scratch scratch;
    const GivenBonusText view { text.data(), bonus.data(), text.size() };
    std::vector<int> positions;
    auto result = perTextKernel().bestDropping(weights, word, view, scratch, &positions);
    if (!result)
        return std::nullopt;
    return Match { *result, Positions(positions.begin(), positions.end()) };
}

std::optional<SearchScorer::Match> SearchScorer::slowPath(
    const std::vector<std::u32string>& groups, std::u32string_view haystack) const
{
    if (groups.empty())
        return Match {};
    const std::u32string lowered = TextUnicode::toLower(haystack);
    const ScalarText view { lowered.data(), lowered.data(), lowered.size(), boundaries(weights, wordsLength(groups)) };
    Scratch scratch;
    std::vector<int> positions;
    auto total = matchWords(*this, groups, view, scratch, &positions, false);
    if (!total)
        return std::nullopt;
    std::sort(positions.begin(), positions.end());
    return Match { *total, Positions(positions.begin(), positions.end()) };
}

namespace SearchScorerTesting {
void setFlagBudget(std::size_t bytes)
{
    flagBudgetBytes.store(bytes == 0 ? defaultFlagBudget : bytes, std::memory_order_relaxed);
}

} // namespace SearchScorerTesting

} // namespace vantrel
