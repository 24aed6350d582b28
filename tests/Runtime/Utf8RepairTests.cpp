// The one UTF-8 repair: maximal ill-formed subparts, bounded results, cut reads.
#include "Runtime/Utf8Repair.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace vantrel {
namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(Utf8Repair, EachMaximalIllFormedSubpartBecomesOneReplacement)
{
    // The Unicode standard's own example (U+FFFD substitution of maximal subparts).
    EXPECT_EQ(repairedUtf8("\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64"),
              "a" + fffd + fffd + fffd + "b" + fffd + "c" + fffd + fffd + "d");
    // Overlongs, surrogates and values beyond U+10FFFF are no prefix of anything.
    EXPECT_EQ(repairedUtf8("\xC0\xAF|\xE0\x80\xAF|\xED\xA0\x80|\xF4\x90\x80\x80"),
              fffd + fffd + "|" + fffd + fffd + fffd + "|" + fffd + fffd + fffd + "|" + fffd + fffd + fffd + fffd);
    const std::string wellFormed = std::string("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 nul:") + '\0';
    EXPECT_EQ(repairedUtf8(wellFormed), wellFormed);
    // What is repaired serialises (the JSON writer throws on ill-formed text).
    for (const auto& text : {wellFormed, std::string("\xFF\xE2\x82"), std::string("x\xED\xA0\x80\xF4\x90")})
        EXPECT_NO_THROW(nlohmann::json(repairedUtf8(text)).dump()) << text;
}

TEST(Utf8Repair, ABoundEndsAfterTheLastWholeCharacterThatFits)
{
    const std::string euros = "\xE2\x82\xAC\xE2\x82\xAC"; // two 3-byte characters
    EXPECT_EQ(repairedUtf8(euros, 5), "\xE2\x82\xAC");
    EXPECT_EQ(repairedUtf8(euros, 6), euros);
    EXPECT_EQ(repairedUtf8("ab\xFF", 4), "ab") << "a replacement that does not fit is left out whole";
    std::string out = "kept";
    appendRepairedUtf8("\xFFz", out, 3);
    EXPECT_EQ(out, "kept" + fffd);
}

TEST(Utf8Repair, OnlyACharacterCutAtTheEndIsDropped)
{
    EXPECT_EQ(withoutCutCharacter("ab\xF0\x9F\x98"), "ab");
    EXPECT_EQ(withoutCutCharacter("ab\xC3"), "ab");
    EXPECT_EQ(withoutCutCharacter("ab\xE2\x82\xAC"), "ab\xE2\x82\xAC");
    // What no longer read could have completed is left for the repair.
    for (const char* kept : {"ab\xFF", "ab\xC0", "ab\xE2\x82\xAC\x82", "ab\xED\xA0", "ab\x80"})
        EXPECT_EQ(withoutCutCharacter(kept), kept);
    EXPECT_EQ(withoutCutCharacter(""), "");
}

} // namespace
} // namespace vantrel
