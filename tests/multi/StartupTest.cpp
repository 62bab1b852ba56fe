#include "support/MultiNode.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;

namespace {
void writeIni(const std::string& folder, const std::string& text)
{
    multi::writeFile(folder + "/Pavo.ini", text);
}
} // namespace

TEST(Startup, ModeLinesInOrderAndOrderlyExitOnSigterm)
{
    TempDir dir;
    writeIni(dir.path(), "[SYSTEM]\nPARTY=lines\nNAME=a\n");
    NodeProcess pavo(NodeProcess::pavoNode(
        dir.path(), {"-D119", "-CLIENT", "-SERVER", "-NOSKYPE", "-d119", "-PASV2"}));
    ASSERT_TRUE(pavo.start());
    ASSERT_TRUE(pavo.waitForOutput("NO SKYPE MODE\n", 20s)) << pavo.errors();
    EXPECT_EQ(pavo.output().rfind(
                  "DEBUG_MODE ON\nSERVERONLY_MODE ON\nCLIENTONLY_MODE ON\nNO SKYPE MODE\n", 0),
              0u)
        << pavo.output();
    pavo.signal(SIGTERM);
    EXPECT_EQ(pavo.waitExit(20s), 0) << pavo.errors();
}

TEST(Startup, SecondInstanceOfAPartyIsRefusedAndTheFirstKeepsRunning)
{
    TempDir dir;
    const std::string firstDir = dir.file("first");
    const std::string secondDir = dir.file("second");
    auto firstOptions = NodeProcess::pavoNode(firstDir, {"-D119"});
    auto secondOptions = NodeProcess::pavoNode(secondDir, {"-D119"});
    // Both share one runtime folder, as two programs of one user do.
    secondOptions.env["XDG_RUNTIME_DIR"] = firstOptions.env["XDG_RUNTIME_DIR"];
    writeIni(firstDir, "[SYSTEM]\nPARTY=guarded\nNAME=a\n");
    writeIni(secondDir, "[SYSTEM]\nPARTY=guarded\nNAME=b\n");

    NodeProcess first(firstOptions);
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(first.waitForOutput("DEBUG_MODE ON", 20s)) << first.errors();
    NodeProcess second(secondOptions);
    ASSERT_TRUE(second.start());
    const int status = second.waitExit(20s);
    EXPECT_NE(status, 0);
    EXPECT_NE(status, -1);
    EXPECT_NE(second.errors().find("２重起動です。処理を中止します"), std::string::npos)
        << second.errors();
    EXPECT_TRUE(first.running());

    // Another party in the same runtime folder starts beside it.
    writeIni(secondDir, "[SYSTEM]\nPARTY=other\nNAME=b\n");
    NodeProcess third(secondOptions);
    ASSERT_TRUE(third.start());
    EXPECT_TRUE(third.waitForOutput("DEBUG_MODE ON", 20s)) << third.errors();
    third.signal(SIGTERM);
    first.signal(SIGTERM);
    EXPECT_EQ(third.waitExit(20s), 0);
    EXPECT_EQ(first.waitExit(20s), 0);
}
