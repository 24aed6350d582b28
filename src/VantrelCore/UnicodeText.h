// Locale-independent Unicode case handling of user-visible names and titles.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

/// True when the two UTF-8 strings are the same text apart from letter case:
/// full default case folding (ß matches "ss", the Turkish dotted and dotless
/// i stay distinct) and canonical equivalence (composed and decomposed accents
/// match).
bool equalIgnoringCase(std::string_view a, std::string_view b);

/// Full locale-independent lower-casing (so "ÉCRIRE" becomes "écrire"),
/// composed to NFC so that byte comparison is character comparison.
std::string lowercased(std::string_view text);

} // namespace vantrel
