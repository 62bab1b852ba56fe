#include "app/NameRules.h"

#include "platform/Cp932.h"

#include <gtest/gtest.h>

TEST(NameRules, SubstituteKeepsWhatCp932WritesAndReplacesTheRest)
{
    struct Case
    {
        const char* name;
        const char* substitute;
        const char* list;
    };
    const Case cases[] = {
        {"plain.txt", "plain.txt", ""},
        {"ｶﾞｲﾄﾞ①ガイド.txt", "ｶﾞｲﾄﾞ①ガイド.txt", ""}, // half-width and circled stay as they are
        {"résumé café.txt", "resume cafe.txt", "é"},
        {"Ångström.pdf", "Angstrom.pdf", "Å、ö"},
        {"한국어.txt", "___.txt", "한、국、어"},
        {"ﬁle.txt", "file.txt", "ﬁ"},
        {"😀.txt", "_.txt", "😀"},
    };
    for (const Case& c : cases) {
        const std::string substitute = names::cp932Substitute(c.name);
        EXPECT_EQ(substitute, c.substitute) << c.name;
        EXPECT_TRUE(plat::toCp932(substitute)) << c.name;
        EXPECT_EQ(names::unwritableList(c.name), c.list) << c.name;
    }
}
