#include "app/CPropatyHotLine.h"

#include "app/NodeSettings.h"
#include "platform/IniFile.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// Found by argument-dependent lookup, so it lives beside the type.
static void PrintTo(const ConnectionRecord& c, std::ostream* os)
{
    *os << "{" << c.nodeName << "," << c.connectMethod << "," << c.address << "," << c.comment
        << "}";
}

namespace {

namespace fs = std::filesystem;

std::string tcpSection(int p, const std::string& name, const std::string& host)
{
    return "[REC" + std::to_string(p) + "]\nNAME=" + name + "\nTRS=TCP\nHOSTNAME=" + host + "\n";
}

class CPropatyHotLineTest : public testing::Test
{
protected:
    TempDir dir;
};

} // namespace

TEST_F(CPropatyHotLineTest, ConstructionMakesTheFoldersAndTheInstance)
{
    const std::string work = dir.file("fresh/work");
    {
        NodeSettings settings(work);
        for (const char* sub : {"SEND", "RECV", "CATALOG"})
            EXPECT_TRUE(fs::is_directory(work + "/" + sub)) << sub;
        EXPECT_EQ(settings.getRecvFolder(), work + "/RECV");
        EXPECT_EQ(settings.getSendFolder(), work + "/SEND");
        EXPECT_EQ(settings.getCurrentFolder(), work);
        EXPECT_EQ(settings.iniFileName(), work + "/Pavo.ini");
        EXPECT_EQ(CPropatyHotLine::instance(), &settings);
    }
    EXPECT_EQ(CPropatyHotLine::instance(), nullptr);
}

TEST_F(CPropatyHotLineTest, MissingFileLoadsDefaults)
{
    NodeSettings settings(dir.path());
    settings.setPartyName("old");
    settings.setLimitDay(9);
    settings.setWindow(1);
    settings.setListenPort(1);
    settings.load();
    EXPECT_EQ(settings.getPartyName(), "");
    EXPECT_EQ(settings.getNodeName(), "");
    EXPECT_EQ(settings.getLimitDay(), 3);
    EXPECT_EQ(settings.getWindow(), 0);
    EXPECT_EQ(settings.getListenPort(), 42000);
    EXPECT_TRUE(settings.connections().records().empty());
}

TEST_F(CPropatyHotLineTest, LoadsTheSystemSection)
{
    writeText(dir.file("Pavo.ini"), "[SYSTEM]\nPARTY=team\nNAME=ノードA\nLIMITDAY=7\nWINDOW=1\n"
                                    "LISTENPORT=43001\nCONNECTNUM=0\n");
    NodeSettings settings(dir.path());
    settings.load();
    EXPECT_EQ(settings.getPartyName(), "team");
    EXPECT_EQ(settings.getNodeName(), "ノードA");
    EXPECT_EQ(settings.getLimitDay(), 7);
    EXPECT_EQ(settings.getWindow(), 1);
    EXPECT_EQ(settings.getListenPort(), 43001);
}

struct LoadCase
{
    const char* what;
    std::string ini;
    std::vector<ConnectionRecord> expected;
};

class LoadConnections : public CPropatyHotLineTest, public testing::WithParamInterface<LoadCase>
{
};

TEST_P(LoadConnections, Table)
{
    writeText(dir.file("Pavo.ini"), GetParam().ini);
    NodeSettings settings(dir.path());
    settings.load();
    EXPECT_EQ(settings.connections().records(), GetParam().expected);
}

namespace {

std::string twelveSections(const std::string& connectNum)
{
    std::string ini = "[SYSTEM]\nCONNECTNUM=" + connectNum + "\n";
    for (int p = 1; p <= 12; ++p)
        ini += tcpSection(p, "n" + std::to_string(p), "h" + std::to_string(p));
    return ini;
}

std::vector<ConnectionRecord> firstTcp(int n)
{
    std::vector<ConnectionRecord> out;
    for (int p = 1; p <= n; ++p)
        out.push_back({"n" + std::to_string(p), "TCP", "h" + std::to_string(p), ""});
    return out;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    CPropatyHotLine, LoadConnections,
    testing::Values(LoadCase{"at most ten sections", twelveSections("12"), firstTcp(10)},
                    LoadCase{"fewer than written", twelveSections("3"), firstTcp(3)},
                    LoadCase{"huge count", twelveSections("99999999999999999999"), firstTcp(10)},
                    LoadCase{"negative count", twelveSections("-4"), {}},
                    LoadCase{"count not a number", twelveSections("many"), {}},
                    LoadCase{"count with trailing text", twelveSections("2 sections"), firstTcp(2)},
                    LoadCase{"skipped sections close up",
                             "[SYSTEM]\nCONNECTNUM=7\n"
                             "[REC1]\nNAME=a\nTRS=SKYPE\nSKYPEID=alice\nCOMMENT=first\n"
                             "[REC2]\nNAME=b\nTRS=SKYPE\nSKYPEID=\nHOSTNAME=host-b\n" // no Skype ID
                             "[REC3]\nNAME=c\nTRS=TCP\nHOSTNAME=host-c/42010\nSKYPEID=ignored\n"
                             "[REC4]\nTRS=TCP\nHOSTNAME=host-d\n" // no name
                             "[REC5]\nNAME=e\nHOSTNAME=host-e\n"  // no method
                             "[REC6]\nNAME=f\nTRS=TCP\nSKYPEID=only-skype\n"
                             "[REC7]\nNAME=g\nTRS=OTHER\nHOSTNAME=host-g\n",
                             {{"a", "SKYPE", "alice", "first"},
                              {"c", "TCP", "host-c/42010", ""},
                              {"g", "OTHER", "host-g", ""}}},
                    LoadCase{"names compared without case",
                             "[system]\nconnectnum=1\n[rec1]\nname=a\ntrs=TCP\nhostname=h\n",
                             {{"a", "TCP", "h", ""}}}),
    [](const testing::TestParamInfo<LoadCase>& info) {
        std::string name = info.param.what;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

TEST_F(CPropatyHotLineTest, SaveThenLoadGivesTheSameSettings)
{
    NodeSettings out(dir.path());
    out.setPartyName("team");
    out.setNodeName("node-1");
    out.setLimitDay(5);
    out.setWindow(1);
    out.setListenPort(42001);
    out.connections().append({"a", "SKYPE", "alice", "friend"});
    out.connections().append({"b", "TCP", "host-b/43000", ""});
    out.save();

    const plat::IniFile ini(dir.file("Pavo.ini"));
    EXPECT_EQ(ini.getString("REC1", "SKYPEID", "?"), "alice");
    EXPECT_EQ(ini.getString("REC1", "HOSTNAME", "?"), "");
    EXPECT_EQ(ini.getString("REC2", "SKYPEID", "?"), "");
    EXPECT_EQ(ini.getString("REC2", "HOSTNAME", "?"), "host-b/43000");

    NodeSettings in(dir.path());
    in.load();
    EXPECT_EQ(in.getPartyName(), "team");
    EXPECT_EQ(in.getNodeName(), "node-1");
    EXPECT_EQ(in.getLimitDay(), 5);
    EXPECT_EQ(in.getWindow(), 1);
    EXPECT_EQ(in.getListenPort(), 42001);
    EXPECT_EQ(in.connections().records(), out.connections().records());
    EXPECT_EQ(in.getHostName(1), "host-b");
    EXPECT_EQ(in.getPort(1), 43000);
}

TEST_F(CPropatyHotLineTest, SaveKeepsForeignKeysAndStaleSections)
{
    writeText(dir.file("Pavo.ini"), "[SYSTEM]\nMAILADDRESS=a@example.org\nPARTY=old\n"
                                    "[ELSEWHERE]\nKEY=value\n");
    NodeSettings settings(dir.path());
    settings.setPartyName("team");
    for (const char* n : {"a", "b", "c"})
        settings.connections().append({n, "TCP", std::string("host-") + n, {}});
    settings.save();
    settings.connections().remove(1);
    settings.save();

    const plat::IniFile ini(dir.file("Pavo.ini"));
    EXPECT_EQ(ini.getString("SYSTEM", "MAILADDRESS", ""), "a@example.org");
    EXPECT_EQ(ini.getString("ELSEWHERE", "KEY", ""), "value");
    EXPECT_EQ(ini.getString("SYSTEM", "PARTY", ""), "team");
    EXPECT_EQ(ini.getInt("SYSTEM", "CONNECTNUM", -1), 2);
    EXPECT_EQ(ini.getString("REC3", "NAME", ""), "c"); // left over, no longer read

    NodeSettings reread(dir.path());
    reread.load();
    ASSERT_EQ(reread.connections().records().size(), 2u);
    EXPECT_EQ(reread.connections().records()[1].nodeName, "c");
}

TEST_F(CPropatyHotLineTest, BinaryFileDoesNotBreakLoadOrSave)
{
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk.push_back(static_cast<char>((i * 131 + 7) % 256));
    junk += "\n[SYSTEM]\nCONNECTNUM=3\n[REC1]\nNAME=\x01\xff\nTRS=TCP\nHOSTNAME=\x80/\xfe\n";
    writeText(dir.file("Pavo.ini"), junk);
    NodeSettings settings(dir.path());
    settings.load();
    EXPECT_LE(settings.connections().records().size(), 1u);
    settings.save();
    EXPECT_FALSE(readText(dir.file("Pavo.ini")).empty());
}
