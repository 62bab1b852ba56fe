#include "support/MultiNode.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {
void writeIni(const std::string& folder, const std::string& text)
{
    multi::writeFile(folder + "/Pavo.ini", text);
}

std::vector<std::string> entriesOf(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}
} // namespace

// Asking for help or the version, or giving a wrong option, ends at once and leaves the current
// folder, the runtime folder and the home folder as empty as they were.
TEST(Startup, InformationalAndWrongOptionsEndWithoutTouchingAnything)
{
    struct Case
    {
        std::vector<std::string> args;
        int status;
        const char* output;
        const char* errors;
    };
    const Case cases[] = {
        {{"--help"}, 0, "usage: pavo [--help] [--version]", ""},
        {{"--version"}, 0, "pavo " PAVO_VERSION "\n", ""},
        {{"-D119", "--bogus"}, 2, "", "pavo: unknown option '--bogus'\nusage: pavo "},
    };
    for (const Case& c : cases) {
        TempDir work, runtime, home;
        NodeProcess::Options options;
        options.program = NodeProcess::pavoBinary();
        options.args = c.args;
        options.workDir = work.path();
        // No display either: the answer must not depend on one.
        options.env = {{"XDG_RUNTIME_DIR", runtime.path()},
                       {"HOME", home.path()},
                       {"XDG_DATA_HOME", home.file("data")},
                       {"XDG_CONFIG_HOME", home.file("config")},
                       {"DISPLAY", ""},
                       {"WAYLAND_DISPLAY", ""},
                       {"QT_QPA_PLATFORM", ""}};
        NodeProcess pavo(options);
        ASSERT_TRUE(pavo.start()) << c.args.front();
        EXPECT_EQ(pavo.waitExit(20s), c.status) << c.args.front();
        EXPECT_EQ(pavo.output().rfind(c.output, 0), 0u) << pavo.output();
        EXPECT_EQ(pavo.errors().rfind(c.errors, 0), 0u) << pavo.errors();
        EXPECT_TRUE(entriesOf(runtime.path()).empty()) << c.args.front();
        EXPECT_TRUE(entriesOf(home.path()).empty()) << c.args.front();
        // Only the test's own capture of the two output streams.
        auto names = entriesOf(work.path());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"stderr.txt", "stdout.txt"})) << c.args.front();
    }
}

TEST(Startup, ModeLinesInOrderAndOrderlyExitOnSigterm)
{
    TempDir dir;
    writeIni(dir.path(), "[SYSTEM]\nPARTY=lines\nNAME=a\n");
    NodeProcess pavo(
        NodeProcess::pavoNode(dir.path(), {"-D119", "-CLIENT", "-SERVER", "-NOSKYPE"}));
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

namespace {
unsigned modeOf(const std::string& path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
}

std::size_t countOf(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}
} // namespace

// A working folder the node makes is its user's only; one that was there and is open to others
// is left as its owner set it and named once on standard error. The folders the node keeps in
// it are private either way.
TEST(Startup, TheWorkingFolderAndWhatTheNodeKeepsArePrivate)
{
    const char* const kOpenLine = "is open to other users";
    TempDir root;
    const std::string data = root.file("home/data");
    auto madeOptions = NodeProcess::pavoNode(root.file("started-here"), {"-D119", "--user-folder"});
    madeOptions.env["XDG_DATA_HOME"] = data;
    const std::string open = root.file("open");
    std::filesystem::create_directories(open);
    ::chmod(open.c_str(), 0755);
    writeIni(open, "[SYSTEM]\nPARTY=private\nNAME=a\n");
    auto openOptions = NodeProcess::pavoNode(open, {"-D119"});
    for (const auto* options : {&madeOptions, &openOptions}) {
        NodeProcess pavo(*options);
        ASSERT_TRUE(pavo.start());
        ASSERT_TRUE(pavo.waitForOutput("DEBUG_MODE ON", 20s)) << pavo.errors();
        pavo.signal(SIGTERM);
        EXPECT_EQ(pavo.waitExit(20s), 0) << pavo.errors();
        const bool made = options == &madeOptions;
        const std::string folder = made ? data + "/pavo" : open;
        EXPECT_EQ(modeOf(folder), made ? 0700u : 0755u);
        EXPECT_EQ(countOf(pavo.errors(), kOpenLine), made ? 0u : 1u) << pavo.errors();
        for (const char* sub : {"RECV", "CATALOG", "SEND"})
            EXPECT_EQ(modeOf(folder + "/" + sub), 0700u) << sub;
    }
}
