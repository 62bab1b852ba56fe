#include "ui/CatalogFileOps.h"

#include "app/NodeSettings.h"
#include "support/RecordingPrompt.h"
#include "support/TempDir.h"

#include "app/ShellUtil.h"
#include "wire/RecordKey.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/resource.h>

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
    std::vector<CatalogRecord> shown; // what each row of the list shows
    std::optional<int> method;        // the registration dialog's answer
    int methodAsked = 0;
    std::optional<std::string> savePath;
    std::function<void()> whileChoosing; // runs while the save-as dialog is open
    bool copyFails = false;
    std::vector<std::pair<std::string, std::string>> copies;
    std::vector<std::string> notices; // status-line lines

    std::optional<int> selectedRow() override { return selected; }
    std::optional<CatalogRecord> rowEntry(int row) override
    {
        if (row < 0 || row >= static_cast<int>(shown.size()))
            return std::nullopt;
        return shown[static_cast<std::size_t>(row)];
    }
    void bringToFront() override {}
    std::optional<int> chooseMethod() override
    {
        ++methodAsked;
        return method;
    }
    std::optional<std::string> chooseSavePath(const std::string&) override
    {
        if (whileChoosing)
            whileChoosing();
        return savePath;
    }
    CatalogFileOps::CopyResult copyFile(const std::string& from, const std::string& to) override
    {
        copies.emplace_back(from, to);
        CatalogFileOps::CopyResult result;
        if (!copyFails)
            result.ok = copyFiles({to}, {from}, nullptr, &result.failure) == 1;
        return result;
    }
    void notice(const std::string& text) override { notices.push_back(text); }
};

class FakeCatalog : public CatalogFileOps::Catalog
{
public:
    std::vector<CatalogRecord> records;
    std::string contentFolder;      // received files lie here under their names
    std::vector<std::string> calls; // "everywhere:<name>" / "here:<name>"

    std::optional<CatalogRecord> findRegistration(const CatalogRecord& shown) override
    {
        for (const CatalogRecord& r : records)
            if (catalog::registrationKey(r) == catalog::registrationKey(shown))
                return r;
        return std::nullopt;
    }
    void deleteEverywhere(const CatalogRecord& r) override { log("everywhere", r); }
    void deleteHere(const CatalogRecord& r) override { log("here", r); }
    std::string contentPath(const CatalogRecord& r) override
    {
        return contentFolder + "/" + r.fileNameUtf8();
    }

private:
    void log(const char* what, const CatalogRecord& r)
    {
        EXPECT_EQ(r.kind(), catalog::RecordKind::Deleted);
        calls.push_back(std::string(what) + ":" + r.fileNameUtf8());
    }
};

CatalogRecord record(const char* name, const char* origin, std::uint32_t complete,
                     std::uint16_t registeredSecond = 0)
{
    CatalogRecord r;
    r.setRegistrationTime({2024, 5, 3, 15, 10, 0, registeredSecond, 0});
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
    NodeSettings settings{dir.path()};
    RecordingPrompt prompt;
    FakeUi ui;
    FakeCatalog catalog;
    CatalogFileOps ops{ui, catalog, settings};

    CatalogFileOpsTest()
    {
        settings.setNodeName("self");
        catalog.contentFolder = dir.file("in");
    }

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
    // The catalog holds these entries and the list shows them.
    void rows(std::vector<CatalogRecord> records)
    {
        catalog.records = records;
        ui.shown = std::move(records);
    }
    std::string readBack(const std::string& path) const
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
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
                          {7, kNoSelection}};
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
    make("got.txt", "received bytes");
    ui.selected = 0;
    ops.takeOut(); // save-as cancelled
    EXPECT_TRUE(ui.copies.empty());

    EXPECT_TRUE(ui.notices.empty());

    ui.savePath = dir.file("out/saved.txt");
    ops.takeOut();
    EXPECT_EQ(readBack(dir.file("out/saved.txt")), "received bytes");
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

namespace {
std::string goneText(const std::string& name)
{
    return "「" + name +
           "」の登録はもうカタログにありません。一覧の更新を待って選び直してください。";
}
} // namespace

// The list lags the catalog by up to a refresh: after a purge, row 1 may show an entry that
// is no longer at index 1. Both operations act on what the row shows.
TEST_F(CatalogFileOpsTest, OperationsActOnTheRegistrationTheRowShowsNotOnItsIndex)
{
    rows({record("x.txt", "peer", 1), record("y.txt", "peer", 1), record("z.txt", "peer", 1)});
    catalog.records.erase(catalog.records.begin()); // x purged, the list not yet refreshed
    make("y.txt", "why");
    make("z.txt", "zed");
    ui.selected = 1;

    ui.savePath = dir.file("out/taken.txt");
    ops.takeOut();
    EXPECT_EQ(readBack(dir.file("out/taken.txt")), "why");

    prompt.script({Answer::Yes});
    ops.deleteRegistration();
    EXPECT_EQ(catalog.calls, std::vector<std::string>{"here:y.txt"});
    ASSERT_EQ(prompt.questions.size(), 1u);
    EXPECT_NE(prompt.questions[0].find("y.txt"), std::string::npos)
        << "the question names the file";
    EXPECT_TRUE(prompt.messages.empty());
}

// A question runs the event loop, and with it the purge: the registration is looked up again
// after every question and nothing happens when it has gone.
TEST_F(CatalogFileOpsTest, TheRegistrationIsLookedUpAgainAfterEveryQuestion)
{
    struct Case
    {
        const char* what;
        CatalogRecord row;
        bool takeOut;
        bool goneBeforeAsking; // registered again (a later registration time) before the click
    };
    const Case cases[] = {
        {"own file, network question", record("own.txt", "self", 1), false, false},
        {"other node's file, force question", record("theirs.txt", "peer", 1), false, false},
        {"management file, force question", record("info.nod", "peer", 1), false, false},
        {"take-out, save-as dialog", record("got.txt", "peer", 1), true, false},
        {"registered again since the refresh", record("again.txt", "peer", 1), false, true},
    };
    for (const Case& c : cases) {
        prompt.clear();
        catalog.calls.clear();
        ui.copies.clear();
        rows({record("first.txt", "peer", 1), c.row});
        make(c.row.fileNameUtf8());
        ui.selected = 1;
        ui.savePath = dir.file("out/" + c.row.fileNameUtf8());
        const auto purge = [this] { catalog.records.clear(); };
        if (c.goneBeforeAsking)
            catalog.records[1] = record("again.txt", "peer", 1, 30);
        prompt.whileAsking = [&](const std::string&) { purge(); };
        ui.whileChoosing = purge;
        prompt.script({Answer::Yes, Answer::Yes});

        c.takeOut ? ops.takeOut() : ops.deleteRegistration();
        EXPECT_EQ(prompt.messages, std::vector<std::string>{goneText(c.row.fileNameUtf8())})
            << c.what;
        EXPECT_TRUE(catalog.calls.empty()) << c.what;
        EXPECT_TRUE(ui.copies.empty()) << c.what;
        for (const std::string& q : prompt.questions)
            EXPECT_NE(q.find(c.row.fileNameUtf8()), std::string::npos) << c.what << ": " << q;
    }
}

// A take-out that cannot complete says which file and why, and leaves nothing under the name
// the user chose (nor a temporary file beside it).
TEST_F(CatalogFileOpsTest, AFailedTakeOutNamesTheFileAndTheReasonAndLeavesNoPartialCopy)
{
    struct Case
    {
        const char* what;
        std::function<std::string(CatalogFileOpsTest&)> prepare; // the path chosen
        const char* reason;
        rlim_t fileSizeLimit; // RLIM_INFINITY: none
    };
    const Case cases[] = {
        {"destination folder cannot be made",
         [](auto& t) {
             t.make("blocker");
             return t.dir.file("in/blocker/out.bin");
         },
         "保存先のフォルダを作成できません", RLIM_INFINITY},
        {"received file already purged",
         [](auto& t) {
             std::filesystem::remove(t.dir.file("in/got.bin"));
             return t.dir.file("out1/got.bin");
         },
         "受信したファイルがこのノードにありません（削除された可能性があります）", RLIM_INFINITY},
        {"no room for the whole file", [](auto& t) { return t.dir.file("out2/got.bin"); },
         "保存先に書き込めません（ファイルが大きすぎます）", 4096},
    };
    rows({record("got.bin", "peer", 1)});
    ui.selected = 0;
    for (const Case& c : cases) {
        prompt.clear();
        make("got.bin", std::string(256 * 1024, 'x'));
        ui.savePath = c.prepare(*this);
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = c.fileSizeLimit;
        ::setrlimit(RLIMIT_FSIZE, &limited);
        ops.takeOut();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        EXPECT_EQ(prompt.messages,
                  std::vector<std::string>{"「got.bin」を取り出せませんでした。\r\n" +
                                           std::string(c.reason)})
            << c.what;
        const std::filesystem::path chosen(*ui.savePath);
        EXPECT_FALSE(std::filesystem::exists(chosen)) << c.what;
        if (std::filesystem::is_directory(chosen.parent_path())) {
            EXPECT_TRUE(std::filesystem::is_empty(chosen.parent_path())) << c.what;
        }
    }
}
