#include "support/TempDir.h"

#include "app/NodeKeyStore.h"
#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

namespace {

unsigned modeOf(const std::string& path)
{
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
}

class NodeKeyStoreTest : public ::testing::Test
{
protected:
    void SetUp() override { ::setenv("PAVO_NO_KEYCHAIN", "1", 1); }
    void TearDown() override { ::unsetenv("PAVO_NO_KEYCHAIN"); }

    TempDir dir;
    std::string ini = dir.file("Pavo.ini");
    NodeKeyStore store{ini, dir.path()};
};

} // namespace

TEST_F(NodeKeyStoreTest, FirstStartMakesAKeyThatLaterStartsFindAgainInAPrivateFile)
{
    const NodeKeyStore::Loaded first = store.loadOrCreate();
    ASSERT_TRUE(first.key) << first.problem;
    EXPECT_TRUE(first.created);
    EXPECT_EQ(modeOf(ini), 0600u);
    const NodeKeyStore::Loaded again = store.loadOrCreate();
    ASSERT_TRUE(again.key);
    EXPECT_FALSE(again.created);
    EXPECT_EQ(again.key->publicKey(), first.key->publicKey());
}

TEST_F(NodeKeyStoreTest, AKeyThatCannotBeReadIsNeverReplacedByANewOne)
{
    struct Case
    {
        const char* store;
        const char* key;
    };
    for (const Case c : {Case{"file", "12ab"}, Case{"keychain", ""}, Case{"floppy", ""}}) {
        {
            plat::IniFile file(ini);
            ASSERT_TRUE(file.writeString("NODEKEY", "STORE", c.store));
            ASSERT_TRUE(file.writeString("NODEKEY", "KEY", c.key));
        }
        const NodeKeyStore::Loaded loaded = store.loadOrCreate();
        EXPECT_FALSE(loaded.key) << c.store;
        EXPECT_FALSE(loaded.problem.empty()) << c.store;
        EXPECT_EQ(plat::IniFile(ini).getString("NODEKEY", "KEY", ""), c.key) << c.store;
    }
}
