// The settings document: decoding with per-key defaults, and encoding.
#pragma once

#include "VantrelCore/Expected.h"
#include "VantrelCore/Settings.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

/// Why a settings document was rejected.
struct DecodeError {
    /// Where: a top-level key, or a path into it ("switchers[1].activate.keyCode");
    /// empty for the document as a whole.
    std::string path;
    /// What was wrong ("missing", "\"top\" is not one of show, bottom, hide").
    std::string reason;

    /// `key "PATH": REASON`, or the reason alone for the whole document.
    std::string message() const;

    bool operator==(const DecodeError&) const = default;
};

/// Decodes a settings object: every key absent or null keeps its default,
/// except that a null "searchChord" means no search chord. A value of the
/// wrong type, an unknown enumeration name, an out-of-range number, a float
/// where an integer belongs or a malformed nested record fails the whole
/// decode. Unknown keys are ignored. Values that parse but make no sense are
/// made safe: a negative show delay reads as 0, a text scale of 0 or less as
/// the default 1.0, and a switcher whose id is empty or repeats an earlier
/// one's gets a free id ("ID-2", "ID-3"..., "switcher" for an empty one).
Expected<Settings, DecodeError> decodeSettings(const nlohmann::json& document);

/// Parses UTF-8 JSON text, then decodes it as above.
Expected<Settings, DecodeError> decodeSettingsText(std::string_view text);

/// The settings as a JSON object with all 13 keys in declaration order (an
/// absent search chord as null; an absent moveUp or titlePattern left out).
/// None when a value has no JSON form (a non-finite text scale).
std::optional<nlohmann::ordered_json> encodeSettings(const Settings& settings);

/// The encoded document as UTF-8 text (`indent` < 0: compact). None when
/// encoding fails, including for strings that are not valid UTF-8.
std::optional<std::string> encodeSettingsText(const Settings& settings, int indent = -1);

} // namespace vantrel
