#include "support/TempDir.h"

#include "app/PartyKeyMaker.h"
#include "platform/IniFile.h"
#include "platform/KeyDerivation.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <set>

namespace {

using Hint = PartyKeyMaker::Hint;
using Failure = PartyKeyMaker::Failure;

class PartyKeyMakerTest : public ::testing::Test
{
protected:
    void SetUp() override { ::setenv("PAVO_NO_KEYCHAIN", "1", 1); }
    void TearDown() override { ::unsetenv("PAVO_NO_KEYCHAIN"); }

    PartyKeyStore storeIn(const TempDir& dir) const
    {
        return PartyKeyStore(dir.file("Pavo.ini"), dir.path());
    }
    static std::string storedKey(const TempDir& dir)
    {
        return plat::IniFile(dir.file("Pavo.ini")).getString("PARTYKEY", "KEY", "");
    }
};

TEST_F(PartyKeyMakerTest, GuessablePassphrasesAreRatedWeakWithTheReason)
{
    const struct
    {
        const char* passphrase;
        bool strong;
        Hint hint;
    } cases[] = {
        {"password", false, Hint::Word},
        {"our passphrase", false, Hint::Word},
        {"aaaaaaaaaaaaaaaaaaaaaaaa", false, Hint::Repeat},
        {"kx7kx7kx7kx7kx7kx7", false, Hint::Repeat},
        {"abcdefghijkl", false, Hint::Sequence},
        {"1990-05-17", false, Hint::Date},
        {"xK3", false, Hint::Short},
        {"MyParty2026", false, Hint::Word}, // the party's own name counts as known
        {"violet wagon seventy crumbs", true, Hint::None},
        {"Tiny-Violet-Wagon-Seventy-4-Crumbs", true, Hint::None},
    };
    for (const auto& c : cases) {
        const PartyKeyMaker::Rating r = PartyKeyMaker::rate(c.passphrase, {"MyParty", "NodeA"});
        EXPECT_EQ(r.strong(), c.strong) << c.passphrase << " " << r.bits;
        if (!c.strong) {
            EXPECT_LT(r.bits, PartyKeyMaker::kMinBits) << c.passphrase;
            EXPECT_EQ(r.hint, c.hint) << c.passphrase;
        }
    }
}

TEST_F(PartyKeyMakerTest, AMadeCodeIsRandomAndTypedInAnySpellingGivesTheSameKey)
{
    std::set<std::string> codes;
    for (int i = 0; i < 50; ++i) {
        const std::string code = PartyKeyMaker::newCode();
        ASSERT_EQ(code.size(), 34u);
        EXPECT_EQ(PartyKeyMaker::canonicalCode(code), code);
        EXPECT_TRUE(PartyKeyMaker::rate(code).strong());
        codes.insert(code);
    }
    EXPECT_EQ(codes.size(), 50u);

    TempDir first, second;
    const PartyKeyMaker::Outcome made = PartyKeyMaker::setNewCode("MyParty", storeIn(first));
    ASSERT_TRUE(made.ok());
    ASSERT_TRUE(made.applied.key);
    // A friend types it in lower case, without dashes and with O for 0 and l for 1.
    std::string typed;
    for (char c : made.madeCode) {
        if (c == '-')
            continue;
        c = c == '0' ? 'O' : c == '1' ? 'l' : c;
        typed += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const PartyKeyMaker::Outcome set = PartyKeyMaker::set(typed, "MyParty", storeIn(second));
    ASSERT_TRUE(set.ok());
    EXPECT_EQ(set.applied.key, made.applied.key);
    EXPECT_EQ(storedKey(first), storedKey(second));
    EXPECT_TRUE(typed.empty()) << "the passphrase is wiped";
    EXPECT_FALSE(PartyKeyMaker::canonicalCode(made.madeCode + "0"));
    EXPECT_FALSE(PartyKeyMaker::canonicalCode("UUUU-UUUU-UUUU-UUUU-UUUU-UUUU-UUUU"));
}

TEST_F(PartyKeyMakerTest, ARefusedPassphraseStoresNothingAndIsWipedAllTheSame)
{
    const struct
    {
        std::string passphrase;
        const char* party;
        Failure failure;
    } cases[] = {
        {"our passphrase", "MyParty", Failure::Weak},
        {std::string(PartyKeyMaker::kMaxPassphrase + 1, 'x'), "MyParty", Failure::TooLong},
        {"violet wagon seventy crumbs", "", Failure::NoParty},
        {"", "MyParty", Failure::Empty},
    };
    for (const auto& c : cases) {
        TempDir dir;
        std::string passphrase = c.passphrase;
        const PartyKeyMaker::Outcome out = PartyKeyMaker::set(passphrase, c.party, storeIn(dir));
        EXPECT_EQ(out.failure, c.failure) << c.passphrase.substr(0, 20);
        EXPECT_TRUE(passphrase.empty());
        EXPECT_EQ(storedKey(dir), "");
        EXPECT_FALSE(out.applied.key);
    }
    // One limit for every way in: exactly the limit is taken.
    TempDir dir;
    std::string longest = "violet wagon seventy crumbs ";
    longest.resize(PartyKeyMaker::kMaxPassphrase, 'q');
    EXPECT_TRUE(PartyKeyMaker::set(longest, "MyParty", storeIn(dir)).ok());
}

TEST_F(PartyKeyMakerTest, AKeySetBeforeTheRatingKeepsWorking)
{
    // Stored from a passphrase that would be refused today: it is still loaded and used.
    TempDir dir;
    const auto old = plat::derivePartyKey("one", "MyParty");
    ASSERT_TRUE(old);
    ASSERT_TRUE(storeIn(dir).store(*old, "MyParty", nullptr));
    const PartyKeyStore::Loaded loaded = storeIn(dir).load("MyParty");
    EXPECT_EQ(loaded.state, PartyKeyStore::State::Ready);
    EXPECT_EQ(loaded.key, old);
}

} // namespace
