#include "support/MultiNode.h"
#include "support/RecordingProxy.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace std::chrono_literals;
using namespace multi;
namespace fs = std::filesystem;

namespace {

const char* const kScale = "0.05";
const char* const kParty = "KeyParty";

// Runs "pavo --set-party-key" in the node's folder with the passphrase as its one input line;
// the secret service is left out, so the key goes into Pavo.ini. Returns the exit code.
int setPartyKey(const MultiNode& node, const std::string& passphrase)
{
    const std::string command = "cd '" + node.dir + "' && PAVO_NO_KEYCHAIN=1 '" +
                                NodeProcess::pavoBinary() + "' --set-party-key 2>>set-key.err";
    std::FILE* pipe = ::popen(command.c_str(), "w");
    if (!pipe)
        return -1;
    std::fputs((passphrase + "\n").c_str(), pipe);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class PartyKey : public ::testing::Test
{
protected:
    TempDir root;
    MultiNode a{"A", root.file("A"), freePort()};
    MultiNode b{"B", root.file("B"), freePort()};

    void TearDown() override
    {
        for (MultiNode* n : {&a, &b})
            n->stopIfRunning();
    }
};

} // namespace

TEST_F(PartyKey, KeyedNodesExchangeAFileThatNobodyOnThePathCanRead)
{
    // A only dials, through the proxy; B only listens: every byte passes the proxy.
    RecordingProxy proxy(b.port);
    ASSERT_GT(proxy.port(), 0);
    a.configureWith(kParty, {IniPeer::tcp("B", proxy.port())});
    b.configure(kParty, {&a});
    a.args.push_back("-CLIENT");
    b.args.push_back("-SERVER");
    for (MultiNode* n : {&a, &b}) {
        ASSERT_EQ(setPartyKey(*n, "a passphrase nobody guesses"), 0)
            << readFile(n->file("set-key.err"));
        struct stat st
        {
        };
        ASSERT_EQ(::stat(n->file("Pavo.ini").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 077, 0u) << "Pavo.ini holds the key";
    }
    EXPECT_NE(readFile(a.file("set-key.err")).find("no secret service"), std::string::npos);

    const std::string marker = "MARKER-7f3a-in-the-file";
    const std::string content = pattern(200 * 1024, 3) + marker + pattern(1000, 4);
    writeFile(a.file("SEND/holiday-plans.txt"), content);
    a.start(kScale);
    b.start(kScale);

    const std::string atB = b.file("RECV/A/holiday-plans.txt");
    ASSERT_TRUE(waitFor([&] { return readFile(atB) == content; }, 90s))
        << "B holds " << readFile(atB).size() << " bytes\n"
        << b.process->output();
    EXPECT_TRUE(hasEntry(b.dir, "holiday-plans.txt"));

    const std::string wire = proxy.captured();
    EXPECT_GT(wire.size(), content.size());
    for (const std::string& secret : {std::string(kParty), std::string("holiday-plans"), marker})
        EXPECT_EQ(wire.find(secret), std::string::npos) << secret << " travels in clear";
}

TEST_F(PartyKey, WithoutTheSameKeyNodesNeverAdmitEachOther)
{
    struct Case
    {
        const char* name;
        const char* keyA; // nullptr: no key
        const char* keyB;
    };
    const Case cases[] = {
        {"different keys", "violet wagon seventy crumbs", "amber kettle ninety hinges"},
        {"key against none", "violet wagon seventy crumbs", nullptr},
        {"none against key", nullptr, "violet wagon seventy crumbs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        MultiNode x{"A", dir.file("A"), freePort()};
        MultiNode y{"B", dir.file("B"), freePort()};
        x.configure(kParty, {&y});
        y.configure(kParty, {&x});
        if (c.keyA) {
            ASSERT_EQ(setPartyKey(x, c.keyA), 0);
        }
        if (c.keyB) {
            ASSERT_EQ(setPartyKey(y, c.keyB), 0);
        }
        writeFile(x.file("SEND/from-a.txt"), "content of a");
        writeFile(y.file("SEND/from-b.txt"), "content of b");
        x.start(kScale);
        y.start(kScale);
        // Both dial every half second, but a failure from one address is reported only once a
        // (scaled) minute: after the second report of each keyed side, many handshakes have
        // failed, and nothing may have been admitted or transferred.
        for (MultiNode* n : {&x, &y}) {
            if (n == &x ? !c.keyA : !c.keyB)
                continue;
            EXPECT_TRUE(waitFor(
                [&] {
                    const std::string out = n->process->output();
                    std::size_t count = 0;
                    for (std::size_t at = out.find("TLS handshake failed"); at != std::string::npos;
                         at = out.find("TLS handshake failed", at + 1))
                        ++count;
                    return count >= 2;
                },
                60s))
                << n->process->output();
        }
        for (MultiNode* n : {&x, &y}) {
            const std::string out = n->process->output();
            EXPECT_EQ(out.find("TCP接続が確立しました"), std::string::npos) << n->name;
            EXPECT_FALSE(hasEntry(n->dir, n == &x ? "from-b.txt" : "from-a.txt")) << n->name;
            EXPECT_FALSE(fs::exists(n->file(n == &x ? "RECV/B" : "RECV/A") + "/from-" +
                                    (n == &x ? "b" : "a") + ".txt"));
        }
        x.stopIfRunning();
        y.stopIfRunning();
    }
}

// Runs "pavo --new-party-key" in the node's folder; the code it printed, empty on failure.
std::string newPartyKey(const MultiNode& node)
{
    const std::string command = "cd '" + node.dir + "' && PAVO_NO_KEYCHAIN=1 '" +
                                NodeProcess::pavoBinary() + "' --new-party-key 2>>set-key.err";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return {};
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    const int status = ::pclose(pipe);
    if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {};
    std::string code = line;
    if (!code.empty() && code.back() == '\n')
        code.pop_back();
    return code;
}

TEST_F(PartyKey, SettingTheKeyStartsNoNodeAndAnEmptyLineRemovesIt)
{
    const std::string one = "violet wagon seventy crumbs";
    a.configure(kParty, {&b});
    ASSERT_EQ(setPartyKey(a, one), 0);
    const std::string once = readFile(a.file("Pavo.ini"));
    ASSERT_EQ(setPartyKey(a, one), 0);
    EXPECT_EQ(readFile(a.file("Pavo.ini")), once) << "the same passphrase gives the same key";
    ASSERT_EQ(setPartyKey(a, "amber kettle ninety hinges"), 0);
    EXPECT_NE(readFile(a.file("Pavo.ini")), once) << "a wrong passphrase is another key";
    EXPECT_FALSE(fs::exists(a.file("SEND"))) << "no node was started";

    ASSERT_EQ(setPartyKey(a, ""), 0);
    EXPECT_EQ(readFile(a.file("Pavo.ini")).find("STORE=file"), std::string::npos);
    EXPECT_NE(readFile(a.file("Pavo.ini")).find("NAME=A"), std::string::npos);

    // A node without a party name has nothing to derive the key from.
    MultiNode lone{"L", root.file("L"), freePort()};
    lone.configure("", {});
    EXPECT_EQ(setPartyKey(lone, one), 1);
    EXPECT_NE(readFile(lone.file("set-key.err")).find("no party name"), std::string::npos);
}

TEST_F(PartyKey, AGuessablePassphraseIsRefusedAndAMadeKeyIsPassedOnAsACode)
{
    a.configure(kParty, {&b});
    b.configure(kParty, {&a});
    // Anyone who records a connection can try passphrases offline: a weak one is refused with
    // the reason and the way out, and nothing is stored.
    EXPECT_EQ(setPartyKey(a, "our passphrase"), 1);
    const std::string refusal = readFile(a.file("set-key.err"));
    EXPECT_NE(refusal.find("too easy to guess"), std::string::npos) << refusal;
    EXPECT_NE(refusal.find("--new-party-key"), std::string::npos) << refusal;
    EXPECT_EQ(readFile(a.file("Pavo.ini")).find("PARTYKEY"), std::string::npos);

    // A made key: its code, typed by a friend in another spelling, gives the same key.
    const std::string code = newPartyKey(a);
    ASSERT_EQ(code.size(), 34u) << readFile(a.file("set-key.err"));
    std::string typed;
    for (char c : code)
        if (c != '-')
            typed += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_EQ(setPartyKey(b, typed), 0) << readFile(b.file("set-key.err"));
    const auto keyOf = [](const MultiNode& n) {
        const std::string ini = readFile(n.file("Pavo.ini"));
        const auto at = ini.find("\nKEY=");
        return at == std::string::npos ? std::string() : ini.substr(at, 68);
    };
    EXPECT_FALSE(keyOf(a).empty());
    EXPECT_EQ(keyOf(a), keyOf(b));
    EXPECT_NE(newPartyKey(a), code) << "every made key is new";
}
