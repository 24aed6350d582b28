// Unicode services of the search code: UTF-8 decoding, case, graphemes, white
// space and collation, all through ICU so that tables follow the ICU release.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vantrel::TextUnicode {

/// The scalar that stands for an ill-formed UTF-8 sequence.
inline constexpr char32_t replacementCharacter = 0xFFFD;

/// True when every byte is below 0x80.
bool isAscii(std::string_view bytes);

/// Appends the scalars of `utf8` to `out`; every maximal ill-formed subpart
/// becomes U+FFFD (the practice ICU and the Unicode standard recommend).
void appendScalars(std::string_view utf8, std::u32string& out);
/// Writes the scalars of `utf8` (as appendScalars) to `out`, which has room
/// for utf8.size() of them, and returns how many there are.
std::size_t decodeScalars(std::string_view utf8, char32_t* out);
/// The scalars of `utf8` (see appendScalars).
std::u32string scalars(std::string_view utf8);
/// The beginning of `utf8` that holds its first `count` scalars (as
/// appendScalars counts them); all of it when it has no more. Reads at most
/// 4 * `count` bytes.
std::string_view leadingScalars(std::string_view utf8, std::size_t count);
/// How many scalars `utf8` holds where it is well-formed and none of them
/// lower-cases into ASCII (see anyBeyondAsciiLowersIntoAscii); nullopt
/// otherwise.
std::optional<std::size_t> countScalarsNoneLoweringIntoAscii(std::string_view utf8);
/// UTF-8 of a scalar array (surrogates and out-of-range values become U+FFFD).
std::string utf8(std::u32string_view scalars);
/// Appends `utf8` to `out` repaired as appendRepairedUtf8 (Runtime) does;
/// the well-formed start, nearly always all of it, is found by the fast scan.
void appendSanitizedUtf8(std::string_view utf8, std::string& out);
/// Appends the UTF-16 form of the (repaired) UTF-8 text to `out`.
void appendUtf16(std::string_view utf8, std::u16string& out);

/// Full, locale-independent lower-casing of a whole string (context-sensitive
/// mappings such as final sigma included; U+0130 becomes two scalars).
std::u32string toLower(std::u32string_view text);
/// toLower over UTF-8 text, giving UTF-8.
std::string toLower(std::string_view utf8);
/// Whether lower-casing could change this scalar; false means toLower leaves it.
bool changesWhenLowercased(char32_t c);
/// Whether changesWhenLowercased holds for some scalar beyond ASCII of the
/// UTF-8 text (ill-formed sequences count as U+FFFD), without decoding the
/// ASCII between them.
bool anyBeyondAsciiChangesWhenLowercased(std::string_view utf8);
/// Whether some scalar beyond ASCII of the UTF-8 text lower-cases into
/// ASCII, in full or in part (the Kelvin sign to "k", U+0130 to "i" and a
/// dot).
bool anyBeyondAsciiLowersIntoAscii(std::string_view utf8);
/// Whether lower-casing some scalar beyond ASCII gives `c` among others or
/// alone: what the two that anyBeyondAsciiLowersIntoAscii looks for
/// lower-case to ("i" and U+0307, "k"). Asked of a query's letters for
/// every text they miss.
inline bool isLoweredIntoFromBeyondAscii(char32_t c)
{
    return c == U'i' || c == 0x0307 || c == U'k';
}
/// Decodes `utf8` (as decodeScalars) into `raw` and, lower-cased one scalar
/// at a time, into `lower`; both have room for utf8.size() scalars.
/// `changes` tells whether the text holds U+0130 (which lower-cases to two
/// scalars) or the capital sigma (whose lower case depends on the letters
/// around it), and then `lower` is not the lower-cased text (see toLower).
std::size_t decodeLowered(std::string_view utf8, char32_t* raw, char32_t* lower, bool& changes);
/// The scalars of `utf8` one byte each, for callers that only look at ASCII
/// closely: ASCII as it is, any other scalar (an ill-formed sequence as
/// U+FFFD) as the byte `classify` gives it, which must be 0x80 or above and
/// the same for a scalar every time (the thread remembers recent answers).
/// `out` has room for utf8.size() bytes. When `classify` gives 0xFF the
/// decoding stops and the result is -1; otherwise it is the scalar count.
std::ptrdiff_t narrowScalars(std::string_view utf8, std::uint8_t* out, std::uint8_t (*classify)(char32_t));
/// The scalar's lower-case form when it is ASCII (derived from ICU once).
char32_t asciiLower(char32_t c);
/// The Unicode Lowercase property.
bool isLowercase(char32_t c);
/// The Unicode Uppercase property.
bool isUppercase(char32_t c);

/// Number of extended grapheme clusters (user-perceived characters).
std::size_t graphemeCount(std::string_view utf8);
/// The first `count` extended grapheme clusters of `utf8` (all of it when it
/// has fewer); never splits a cluster or a UTF-8 sequence.
std::string_view graphemePrefix(std::string_view utf8, std::size_t count);
/// `utf8` without leading and trailing tabs and space separators (category Zs);
/// line breaks stay.
std::string_view trimSpaces(std::string_view utf8);

/// <0, 0 or >0 as `a` sorts before, with or after `b` in the current
/// locale's collation at secondary strength (case ignored, accents not). The
/// locale comes from LC_ALL, LC_COLLATE or LANG; C and POSIX collate as the
/// root locale. Ill-formed UTF-8 compares as U+FFFD.
int compareLocalized(std::string_view a, std::string_view b);
/// Appends to `key` the primary collation weights (as in compareLocalized)
/// of the text's characters, each taken on its own, and returns true; false
/// without a collator. Cheap, and an approximation: contractions ("l·" in the
/// root rules, "ch" in Czech) and context are ignored, so keys that differ
/// order their texts as compareLocalized does on nearly all window texts but
/// not on all; callers confirm the result with compareLocalized. Only the
/// key's first `limit` bytes are appended: the characters past them are not
/// looked at. `resume`, when given, tells where the rest of the key begins.
/// `certain`, when given, tells how many of the appended bytes are surely
/// the text's own primary weights, in which case keys that first differ
/// within them order their texts exactly as compareLocalized does (see
/// keyIsCertain); npos when all are and the text ended within them.
struct KeyResume;
bool appendApproximateCollationKey(std::string_view text, std::string& key, std::size_t limit = std::string::npos,
    KeyResume* resume = nullptr, std::size_t* certain = nullptr);
/// appendApproximateCollationKey's first `limit` bytes written into `out`,
/// which must have room for `limit` + 4 (a character's weights may pass
/// the limit): their count, or nullopt without a collator or room. For
/// callers that want keys of a fixed size, which need no string.
std::optional<std::size_t> writeApproximateCollationKey(std::string_view text, std::span<char> out, std::size_t limit,
    KeyResume* resume = nullptr, std::size_t* certain = nullptr);
/// Whether the approximate key of `c` is surely its share of any text's
/// primary weights where its neighbours are such characters too: the
/// collation adds no rules to the root ones, and `c` is of the scripts
/// window texts are mostly written in (Latin, Greek, Cyrillic, Arabic,
/// Hangul, kana, CJK, punctuation, symbols and emoji), takes part in no
/// contraction or context-dependent mapping with another such character,
/// and is neither a combining mark nor one that decomposes into one first.
bool keyIsCertain(char32_t c);
/// Where a limited approximate key stopped: the key of the text from byte
/// `offset` on, less its first `skip` bytes, is the rest of the key.
struct KeyResume {
    std::size_t offset = 0;
    std::size_t skip = 0;
};
/// How many leading bytes `a` and `b` have in common.
std::size_t commonPrefixBytes(std::string_view a, std::string_view b);
/// compareLocalized without the collator, for texts it can judge, where the
/// current collation allows it: one that adds no rules to the root ones,
/// compares digits one by one, has no case level and gives punctuation its
/// weight. A text it covers is well-formed UTF-8 whose characters each make
/// exactly one collation element with the common secondary weight (most
/// letters without accents, digits, punctuation, symbols), or nothing at all,
/// and take part in no contraction. Comparing two such texts at secondary
/// strength is then comparing their characters' primary weights in turn:
/// their secondary weights are all the same, and case is never looked at.
class PlainCollation {
public:
    /// Whether compare() can judge `text`.
    bool covers(std::string_view text) const;
    /// <0, 0 or >0 exactly as compareLocalized(a, b); both texts covered.
    int compare(std::string_view a, std::string_view b) const;

    /// Each ASCII character's primary weight (0: ignorable).
    std::array<std::uint32_t, 128> asciiWeights {};
    /// The same weights as small numbers in the same order: 1 for the
    /// lowest, 0 still for ignorable.
    std::array<std::uint8_t, 128> asciiRanks {};
};
/// The current locale's PlainCollation; null where only the collator can
/// decide (tailored or numeric collation, a case level, no collation data).
const PlainCollation* plainCollation();
/// Loads the current locale's collation data now rather than on first use,
/// so that a caller can have it done while other work goes on. Thread-safe;
/// later calls return at once.
void prepareCollation();
/// The locale identifier the collator was opened with (for diagnostics).
std::string collationLocale();

} // namespace vantrel::TextUnicode
