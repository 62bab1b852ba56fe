#include "ui/CatalogFileOps.h"

#include "support/RecordingPrompt.h"
#include "support/SettingsFixture.h"
#include "support/TempDir.h"

#include "app/ShellUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace fs = std::filesystem;
using plat::Answer;

namespace {
const char* const kNoStatus = "ファイル状態の取得に失敗しました。再度実行してみてください。";
const char* const kBadKind = "取り扱いできない形式のファイルです";
const char* const kEmpty = "サイズが０のファイルは登録できません";
const char* const kCancelled = "操作はキャンセルされました";
const char* const kNoSelection = "ファイルが選択されていません";
const char* const kManagementTakeOut = "管理用ファイルは取り出しできません";
const char* const kOwnFile = "このファイルは自ノードで登録したファイルです。";
const char* const kNotReady = "このファイルはまだ食べ頃ではありません。後ほどお願いします";
const std::string kShortcutSuffix = "へのショートカット.lnk";

class FakeUi : public CatalogFileOps::Ui
{
public:
    std::optional<int> selected;
    std::vector<std::string> names; // column 0 of each row
    std::optional<int> method;      // the registration dialog's answer
    int methodAsked = 0;
    std::optional<std::string> savePath;
    bool copyFails = false;
    std::vector<std::pair<std::string, std::string>> copies;
    std::vector<std::string> notices; // status-line lines

    std::optional<int> selectedRow() override { return selected; }
    std::string fileNameCell(int row) override
    {
        return row >= 0 && row < static_cast<int>(names.size())
                   ? names[static_cast<std::size_t>(row)]
                   : std::string();
    }
    void bringToFront() override {}
    std::optional<int> chooseMethod() override
    {
        ++methodAsked;
        return method;
    }
    std::optional<std::string> chooseSavePath(const std::string&) override { return savePath; }
    bool copyFile(const std::string& from, const std::string& to) override
    {
        copies.emplace_back(from, to);
        return !copyFails && copyFiles({to}, {from}, nullptr) == 1;
    }
    void notice(const std::string& text) override { notices.push_back(text); }
};

class FakeCatalog : public CatalogFileOps::Catalog
{
public:
    std::vector<CatalogRecord> records;
    std::string content;
    std::vector<std::string> calls; // "everywhere:<name>" / "here:<name>"

    CatalogRecord getRecord(int i) override
    {
        return i >= 0 && i < static_cast<int>(records.size()) ? records[static_cast<std::size_t>(i)]
                                                              : CatalogRecord{};
    }
    void deleteEverywhere(const CatalogRecord& r) override { log("everywhere", r); }
    void deleteHere(const CatalogRecord& r) override { log("here", r); }
    std::string contentPath(const CatalogRecord&) override { return content; }

private:
    void log(const char* what, const CatalogRecord& r)
    {
        EXPECT_EQ(r.kind(), catalog::RecordKind::Deleted);
        calls.push_back(std::string(what) + ":" + r.fileNameUtf8());
    }
};

CatalogRecord record(const char* name, const char* origin, std::uint32_t complete)
{
    CatalogRecord r;
    r.setKind(catalog::RecordKind::New);
    EXPECT_TRUE(r.setOriginNodeUtf8(origin));
    plat::FindRecord f;
    f.setSize(5);
    f.setNameCp932(name);
    r.setFileDescription(f);
    r.setCompleteFlag(complete);
    return r;
}

class CatalogFileOpsTest : public ::testing::Test
{
public:
    TempDir dir;
    SettingsFixture settings{dir.path()};
    RecordingPrompt prompt;
    FakeUi ui;
    FakeCatalog catalog;
    CatalogFileOps ops{ui, catalog, settings};

    CatalogFileOpsTest() { settings.nodeName = "self"; }

    std::string make(const std::string& name, const std::string& bytes = "hello")
    {
        const std::string path = dir.file("in/" + name);
        fs::create_directories(dir.file("in"));
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::vector<std::string> sendFolder()
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(settings.getSendFolder()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    void rows(std::vector<CatalogRecord> records)
    {
        catalog.records = std::move(records);
        ui.names.clear();
        for (const CatalogRecord& r : catalog.records)
            ui.names.push_back(r.fileNameUtf8());
    }
};
} // namespace

TEST_F(CatalogFileOpsTest, SingleDropRefusalsWriteNothing)
{
    struct Case
    {
        const char* what;
        std::function<std::string(CatalogFileOpsTest&)> prepare;
        const char* message;
    };
    const Case cases[] = {
        {"missing", [](auto& t) { return t.dir.file("in/none.txt"); }, kNoStatus},
        {"folder",
         [](auto& t) {
             fs::create_directories(t.dir.file("in/folder"));
             return t.dir.file("in/folder");
         },
         kBadKind},
        {"read-only",
         [](auto& t) {
             const std::string p = t.make("ro.txt");
             fs::permissions(p, fs::perms::owner_read);
             return p;
         },
         kBadKind},
        {"hidden", [](auto& t) { return t.make(".hidden"); }, kBadKind},
        {"empty", [](auto& t) { return t.make("empty.txt", ""); }, kEmpty},
        {"dangling shortcut",
         [](auto& t) {
             fs::create_directories(t.dir.file("in"));
             fs::create_symlink(t.dir.file("in/gone"), t.dir.file("in/x.lnk"));
             return t.dir.file("in/x.lnk");
         },
         kNoStatus},
    };
    for (const Case& c : cases) {
        prompt.clear();
        ui.methodAsked = 0;
        ops.drop({c.prepare(*this)});
        EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message}) << c.what;
        EXPECT_EQ(ui.methodAsked, 0) << c.what;
        EXPECT_EQ(sendFolder(), std::vector<std::string>{}) << c.what;
    }
}

TEST_F(CatalogFileOpsTest, SingleDropMakesAShortcutOrACopyAsChosen)
{
    const std::string report = make("report.pdf", "contents");
    ui.method = 0;
    ops.drop({report});
    const std::string link = settings.getSendFolder() + "/report.pdf" + kShortcutSuffix;
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), report);

    ui.method = 1;
    ops.drop({report});
    EXPECT_TRUE(fs::is_regular_file(settings.getSendFolder() + "/report.pdf"));

    ui.method.reset(); // cancel
    ops.drop({make("other.txt")});
    EXPECT_EQ(ui.methodAsked, 3);
    EXPECT_EQ(sendFolder(),
              (std::vector<std::string>{"report.pdf", "report.pdf" + kShortcutSuffix}));
    EXPECT_TRUE(prompt.all.empty());

    ui.method = 1;
    ui.copyFails = true;
    ops.drop({report});
    EXPECT_EQ(prompt.messages, std::vector<std::string>{kCancelled});
}

TEST_F(CatalogFileOpsTest, ANameCp932CannotWriteIsNamedAndARenamedCopyOffered)
{
    const std::string resume = make("résumé.txt", "cv");
    prompt.script({Answer::No});
    ops.drop({resume});
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_EQ(prompt.questions[0],
              "ファイル名「résumé.txt」には送信できない文字（é）が含まれています。\r\n"
              "文字を置き換えた名前「resume.txt」でコピーを登録しますか？");
    EXPECT_EQ(ui.methodAsked, 0);
    EXPECT_TRUE(sendFolder().empty());

    prompt.clear();
    prompt.script({Answer::Yes});
    ops.drop({resume});
    EXPECT_EQ(sendFolder(), std::vector<std::string>{"resume.txt"});
    EXPECT_TRUE(prompt.messages.empty());

    // Several at once: one question listing each, next to the ordinary files.
    prompt.clear();
    prompt.script({Answer::Yes, Answer::Yes});
    ops.drop({make("한국어.txt", "k"), make("plain.txt", "p"), make("café au lait.txt", "c")});
    ASSERT_EQ(prompt.questions.size(), 2u);
    EXPECT_NE(prompt.questions[1].find("「한국어.txt」（한、국、어）→「___.txt」"),
              std::string::npos)
        << prompt.questions[1];
    EXPECT_NE(prompt.questions[1].find("「café au lait.txt」（é）→「cafe au lait.txt」"),
              std::string::npos);
    EXPECT_EQ(sendFolder(),
              (std::vector<std::string>{"___.txt", "cafe au lait.txt",
                                        "plain.txt" + kShortcutSuffix, "resume.txt"}));
}

TEST_F(CatalogFileOpsTest, ReDroppingARegisteredFileSaysSoInTheStatusLine)
{
    const std::string report = make("report.pdf", "contents");
    ui.method = 0;
    ops.drop({report});
    EXPECT_TRUE(ui.notices.empty());
    ops.drop({report});
    EXPECT_EQ(ui.notices, std::vector<std::string>{"「report.pdf」は既に登録されています。"});
    EXPECT_EQ(sendFolder(), std::vector<std::string>{"report.pdf" + kShortcutSuffix});
    EXPECT_TRUE(prompt.all.empty());

    // Another file of the same name elsewhere is a new registration: its shortcut replaces it.
    fs::create_directories(dir.file("elsewhere"));
    std::ofstream(dir.file("elsewhere/report.pdf"), std::ios::binary) << "other";
    ui.notices.clear();
    ops.drop({dir.file("elsewhere/report.pdf")});
    EXPECT_TRUE(ui.notices.empty());
    EXPECT_EQ(fs::read_symlink(settings.getSendFolder() + "/report.pdf" + kShortcutSuffix),
              dir.file("elsewhere/report.pdf"));
}

TEST_F(CatalogFileOpsTest, ADroppedShortcutIsCopiedAsItselfOnlyWhenItsSuffixIsLowerCase)
{
    const std::string target = make("t.txt");
    fs::create_symlink(target, dir.file("in/a.lnk"));
    ops.drop({dir.file("in/a.lnk")});
    EXPECT_EQ(ui.methodAsked, 0);
    ASSERT_TRUE(fs::is_symlink(settings.getSendFolder() + "/a.lnk"));
    EXPECT_EQ(fs::read_symlink(settings.getSendFolder() + "/a.lnk"), target);

    const std::string upper = make("A.LNK");
    ui.method = 0;
    ops.drop({upper});
    EXPECT_EQ(ui.methodAsked, 1);
    EXPECT_TRUE(fs::is_symlink(settings.getSendFolder() + "/A.LNK" + kShortcutSuffix));
}

TEST_F(CatalogFileOpsTest, SeveralDropsAreShortcutsAndSkippedOnesAreCounted)
{
    const std::vector<std::string> paths{make("good.txt"), make("empty.txt", ""), dir.file("in")};
    prompt.script({Answer::No});
    ops.drop(paths);
    EXPECT_EQ(prompt.questions.size(), 1u);
    EXPECT_TRUE(prompt.messages.empty());
    EXPECT_TRUE(sendFolder().empty());

    prompt.clear();
    prompt.script({Answer::Yes});
    ops.drop(paths);
    EXPECT_EQ(ui.methodAsked, 0);
    EXPECT_EQ(sendFolder(), std::vector<std::string>{"good.txt" + kShortcutSuffix});
    EXPECT_EQ(prompt.messages,
              std::vector<std::string>{
                  "2個のファイルが取り扱いできないファイルでした。処理をスキップしました"});
}

TEST_F(CatalogFileOpsTest, TakeOutRefusals)
{
    rows({record("own.txt", "self", 1), record("info.nod", "peer", 1),
          record("half.txt", "peer", 0)});
    struct Case
    {
        std::optional<int> row;
        const char* message;
    };
    const Case cases[] = {{std::nullopt, kNoSelection},
                          {0, kOwnFile},
                          {1, kManagementTakeOut},
                          {2, kNotReady},
                          {7, kNotReady}};
    ui.savePath = dir.file("out.txt");
    for (const Case& c : cases) {
        prompt.clear();
        ui.selected = c.row;
        ops.takeOut();
        EXPECT_EQ(prompt.messages, std::vector<std::string>{c.message}) << c.row.value_or(-1);
    }
    EXPECT_TRUE(ui.copies.empty());
}

TEST_F(CatalogFileOpsTest, TakeOutCopiesTheReceivedFileWhereTheUserChose)
{
    rows({record("got.txt", "peer", 1)});
    catalog.content = make("got.txt", "received bytes");
    ui.selected = 0;
    ops.takeOut(); // save-as cancelled
    EXPECT_TRUE(ui.copies.empty());

    EXPECT_TRUE(ui.notices.empty());

    ui.savePath = dir.file("out/saved.txt");
    ops.takeOut();
    std::ifstream in(dir.file("out/saved.txt"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "received bytes");
    EXPECT_TRUE(prompt.all.empty());
    EXPECT_EQ(ui.notices, std::vector<std::string>{"「got.txt」を取り出しました: " +
                                                   dir.file("out/saved.txt")});

    // A copy that did not finish says nothing of success.
    ui.notices.clear();
    ui.copyFails = true;
    ops.takeOut();
    EXPECT_TRUE(ui.notices.empty());
}

TEST_F(CatalogFileOpsTest, EachAnswerToTheDeletionQuestionsMakesItsDeletion)
{
    rows({record("own.txt", "self", 1), record("theirs.txt", "peer", 1),
          record("info.nod", "peer", 1)});
    struct Case
    {
        int row;
        std::vector<Answer> answers;
        std::size_t questions;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {0, {Answer::Yes}, 1, {"everywhere:own.txt"}},
        {0, {Answer::No}, 1, {"here:own.txt"}},
        {1, {Answer::No}, 1, {}},
        {1, {Answer::Yes}, 1, {"here:theirs.txt"}},
        {2, {Answer::No}, 1, {}},
        {2, {Answer::Yes}, 1, {"here:info.nod"}},
    };
    for (const Case& c : cases) {
        prompt.clear();
        catalog.calls.clear();
        for (Answer a : c.answers)
            prompt.script({a});
        ui.selected = c.row;
        ops.deleteRegistration();
        EXPECT_EQ(prompt.questions.size(), c.questions) << c.row;
        EXPECT_EQ(catalog.calls, c.calls) << c.row;
    }
    prompt.clear();
    ui.selected.reset();
    ops.deleteRegistration();
    EXPECT_EQ(prompt.messages, std::vector<std::string>{kNoSelection});
}
