#include "support/TempDir.h"

#include "app/PartyKeyStore.h"
#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

namespace {

unsigned modeOf(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

class PartyKeyStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { ::setenv("PAVO_NO_KEYCHAIN", "1", 1); }
    void TearDown() override { ::unsetenv("PAVO_NO_KEYCHAIN"); }

    TempDir dir;
    std::string ini = dir.file("Pavo.ini");
    PartyKeyStore store{ini, dir.path()};
    PartyKeyStore::Key key = [] {
        PartyKeyStore::Key k{};
        for (std::size_t i = 0; i < k.size(); ++i)
            k[i] = static_cast<std::uint8_t>(i * 13 + 1);
        return k;
    }();
};

TEST_F(PartyKeyStoreTest, WithoutASecretServiceTheKeyLivesInAnIniOnlyItsOwnerReads)
{
    writeText(ini, "[SYSTEM]\nPARTY=P1\nNAME=A\n");
    ::chmod(ini.c_str(), 0644);
    EXPECT_EQ(store.load("P1").state, PartyKeyStore::State::None);

    std::string error;
    ASSERT_TRUE(store.store(key, "P1", &error)) << error;
    EXPECT_EQ(modeOf(ini), 0600u);
    const PartyKeyStore::Loaded loaded = store.load("P1");
    EXPECT_EQ(loaded.state, PartyKeyStore::State::Ready);
    ASSERT_TRUE(loaded.key);
    EXPECT_EQ(*loaded.key, key);
    // The rest of the settings stays, and later rewrites keep the file private.
    plat::IniFile settings(ini);
    EXPECT_EQ(settings.getString("SYSTEM", "NAME", ""), "A");
    ASSERT_TRUE(settings.writeString("SYSTEM", "NAME", "B"));
    EXPECT_EQ(modeOf(ini), 0600u);

    ASSERT_TRUE(store.store(std::nullopt, "P1", &error)) << error;
    EXPECT_EQ(store.load("P1").state, PartyKeyStore::State::None);
    EXPECT_EQ(settings.getString("SYSTEM", "NAME", ""), "B");
    EXPECT_EQ(settings.getString("PARTYKEY", "KEY", "none"), "");
}

TEST_F(PartyKeyStoreTest, AFreshFolderGetsAPrivateIniAtOnce)
{
    std::string error;
    ASSERT_TRUE(store.store(key, "P1", &error)) << error;
    EXPECT_EQ(modeOf(ini), 0600u);
}

TEST_F(PartyKeyStoreTest, AKeyThatWasSetButCannotBeUsedIsMissingNotAbsent)
{
    const std::string good(64, 'a');
    struct Case
    {
        const char* name;
        std::string section;
        std::string party;
    };
    const Case cases[] = {
        {"made for another party", "STORE=file\nPARTY=Old\nKEY=" + good, "P1"},
        {"damaged", "STORE=file\nPARTY=P1\nKEY=" + good.substr(2) + "zz", "P1"},
        {"short", "STORE=file\nPARTY=P1\nKEY=abcd", "P1"},
        {"in a secret service that is not there", "STORE=keychain\nPARTY=P1", "P1"},
        {"in an unknown place", "STORE=cloud\nPARTY=P1", "P1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeText(ini, "[PARTYKEY]\n" + c.section + "\n");
        const PartyKeyStore::Loaded loaded = store.load(c.party);
        EXPECT_EQ(loaded.state, PartyKeyStore::State::Missing);
        EXPECT_FALSE(loaded.key);
        EXPECT_FALSE(loaded.problem.empty());
    }
}

} // namespace
