#include "platform/TextEscape.h"

#include <gtest/gtest.h>

using plat::escapeControls;

TEST(TextEscape, ControlsAndDirectionOverridesAreShownEscapedAndTheRestIsKept)
{
    const std::pair<std::string, std::string> cases[] = {
        {"NodeB", "NodeB"},
        {"ノードＡ「予定」.txt", "ノードＡ「予定」.txt"},
        {"evil\x1b[2J", "evil\\x1b[2J"},
        {"two\nlines\r", "two\\x0alines\\x0d"},
        {std::string("nul\0byte", 8), "nul\\x00byte"},
        {"del\x7f", "del\\x7f"},
        {"c1\xc2\x9b"
         "31m",
         "c1\\u009b31m"}, // CSI as a C1 control
        {"txt.\xe2\x80\xae"
         "exe",
         "txt.\\u202eexe"}, // right-to-left override
        {"bad\xff\xfe utf8", "bad\\xff\\xfe utf8"},
        {"\xe3\x81", "\\xe3\\x81"}, // cut short
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(escapeControls(in), out) << out;
        EXPECT_EQ(escapeControls(escapeControls(in)), escapeControls(in)) << "escaped twice";
    }
}
