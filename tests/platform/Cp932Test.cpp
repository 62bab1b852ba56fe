#include "platform/Cp932.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using namespace plat;

namespace {

std::string bytes(const std::uint8_t* p, std::size_t n)
{
    return std::string(reinterpret_cast<const char*>(p), n);
}

} // namespace

TEST(Cp932, RoundTripsTextThatCp932Holds)
{
    struct Case
    {
        const char* utf8;
        std::string cp932;
    };
    const std::vector<Case> cases = {
        {"report.pdf", "report.pdf"},
        {"へのショートカット",
         "\x82\xD6\x82\xCC\x83\x56\x83\x87\x81\x5B\x83\x67\x83\x4A\x83\x62\x83\x67"},
        {"ｱｲｳ", "\xB1\xB2\xB3"},              // half-width katakana: one byte each
        {"ソ表\\", "\x83\x5C\x95\x5C\x5C"},   // trail byte 0x5C is not a path separator
        {"①Ⅰ髙", "\x87\x40\x87\x54\xFB\xFC"}, // NEC and IBM extensions
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        const auto cp = toCp932(c.utf8);
        ASSERT_TRUE(cp.has_value());
        EXPECT_EQ(*cp, c.cp932);
        EXPECT_TRUE(isValidCp932(*cp));
        EXPECT_EQ(fromCp932(*cp), std::optional<std::string>(c.utf8));
    }
}

TEST(Cp932, RefusesWhatCp932CannotHoldExactly)
{
    const std::vector<std::string> refused = {
        "\xE2\x99\xA5.txt", // ♥
        "\xE2\x82\xAC",     // €
        "\xF0\x9F\x98\x80", // emoji
        // Shared codes: these would read back as "～" and "\", naming another file.
        "\xE3\x80\x9C", // 〜 WAVE DASH
        "\xC2\xA5",     // ¥
        "ab\xC3",       // cut UTF-8 sequence
        "\xFF",         // not UTF-8 at all
    };
    for (const auto& s : refused) {
        SCOPED_TRACE(s);
        EXPECT_FALSE(toCp932(s).has_value());
    }
}

TEST(Cp932, RejectsInvalidCp932Bytes)
{
    for (const std::string s : {"ab\x82", "\x80", "\xA0", "\xFD"}) {
        SCOPED_TRACE(s);
        EXPECT_FALSE(isValidCp932(s));
        EXPECT_FALSE(fromCp932(s).has_value());
    }
}

TEST(Cp932, BoundedCopyNeverSplitsADoubleByteCharacter)
{
    struct Case
    {
        std::string in;
        std::size_t fieldSize;
        std::string expected; // the whole field
    };
    const std::vector<Case> cases = {
        {"abc", 5, std::string("abc\0\0", 5)},
        {"abcd", 4, "abcd"}, // exactly full: no terminator
        {"abcdef", 4, "abcd"},
        {"a\x82\xA0", 2, std::string("a\0", 2)}, // "aあ": the lead byte would be alone
        {"\x83\x81\x83\x81", 2, "\x83\x81"},     // "メメ": trail 0x81 looks like a lead byte
        {"\x83\x81\x83\x81", 3, std::string("\x83\x81\0", 3)},
        {"\xB1\xB2\xB3\xB4\xB5", 4, "\xB1\xB2\xB3\xB4"}, // half-width katakana are single bytes
        {"", 3, std::string(3, '\0')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fieldSize << " " << testing::PrintToString(c.in));
        std::vector<std::uint8_t> field(c.fieldSize, 0xEE);
        copyCp932Field(field.data(), field.size(), c.in);
        EXPECT_EQ(bytes(field.data(), field.size()), c.expected);
    }
}

TEST(Cp932, FieldToUtf8ReadsUnterminatedAndDamagedFields)
{
    struct Case
    {
        std::string field;
        std::string utf8;
    };
    const std::vector<Case> cases = {
        {std::string("ab\0cd", 5), "ab"},
        {"abcd", "abcd"},                  // no terminator: the field's end ends the text
        {"ab\x82", "ab"},                  // lead byte cut off by the field's end
        {std::string("a\x82\0z", 4), "a"}, // ... or by the terminator
        {"a\x80"
         "b",
         "a\xEF\xBF\xBD"
         "b"},                           // invalid byte replaced, rest kept
        {"\x81\x20x", "\xEF\xBF\xBD x"}, // bad trail byte: only the lead is replaced
        {"\x83\x5C\xB1", "ソｱ"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.field));
        EXPECT_EQ(
            fieldToUtf8(reinterpret_cast<const std::uint8_t*>(c.field.data()), c.field.size()),
            c.utf8);
    }
}

TEST(Cp932, CopyUtf8FieldLeavesTheFieldAloneWhenRefused)
{
    std::array<std::uint8_t, 8> field{};
    field.fill(0x55);
    EXPECT_FALSE(copyUtf8Field(field.data(), field.size(), "a\xE2\x99\xA5"));
    EXPECT_EQ(field[0], 0x55);

    ASSERT_TRUE(copyUtf8Field(field.data(), field.size(), "ｱへ"));
    EXPECT_EQ(bytes(field.data(), field.size()), std::string("\xB1\x82\xD6\0\0\0\0\0", 8));
    EXPECT_EQ(fieldView(field.data(), field.size()), "\xB1\x82\xD6");
}

TEST(Cp932, UnwritableCharactersAreNamedOnceInOrder)
{
    struct Case
    {
        const char* utf8;
        std::vector<std::string> characters;
    };
    const Case cases[] = {
        {"plain.txt", {}},
        {"議事録ｶﾀｶﾅ①.txt", {}},
        {"résumé café.txt", {"é"}},
        {"한국어.txt", {"한", "국", "어"}},
        {"ü-é-ü", {"ü", "é"}},
        {"〜", {"〜"}},                  // would read back as another character
        {"a\xC3", {"\xEF\xBF\xBD"}},     // a cut sequence
        {"\xFF\xFEx", {"\xEF\xBF\xBD"}}, // stray bytes, named once
        {"😀.txt", {"😀"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::unwritableCharacters(c.utf8), c.characters) << c.utf8;
}
