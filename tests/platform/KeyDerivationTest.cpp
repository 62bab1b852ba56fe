#include "platform/KeyDerivation.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(KeyDerivationTest, OnlyTheSamePassphraseAndPartyGiveTheSameKey)
{
    const auto key = plat::derivePartyKey("correct horse", "Party1");
    ASSERT_TRUE(key);
    EXPECT_EQ(plat::derivePartyKey("correct horse", "Party1"), key);
    struct Case
    {
        const char* passphrase;
        const char* party;
    };
    for (const Case& c : {Case{"correct horsf", "Party1"}, Case{"correct horse", "Party2"},
                          Case{"", "Party1"}, Case{"correct horseParty1", ""}}) {
        SCOPED_TRACE(std::string(c.passphrase) + "/" + c.party);
        const auto other = plat::derivePartyKey(c.passphrase, c.party);
        ASSERT_TRUE(other);
        EXPECT_NE(*other, *key);
    }
}

} // namespace
