#include "ui/CatalogFileOps.h"

#include "app/CPropatyHotLine.h"
#include "app/CatalogFileRules.h"
#include "app/NameRules.h"
#include "app/ShellUtil.h"
#include "catalog/CCatalog.h"
#include "platform/Cp932.h"
#include "platform/Diag.h"
#include "platform/Files.h"
#include "platform/FindRecord.h"
#include "platform/Prompt.h"
#include "platform/Shortcut.h"
#include "ui/CatalogRowText.h"
#include "ui/Translations.h"

#include <cstdio>
#include <filesystem>

namespace {
using plat::baseName;
const char* const kManyQuestion =
    "複数ファイルがドロップされました.全てショートカット作成の扱いになります。\r\nよろしいですか？";
const char* const kSkipped =
    "%d個のファイルが取り扱いできないファイルでした。処理をスキップしました";
const char* const kUnsendableMany = "次のファイルの名前には送信できない文字が含まれています。\r\n%s"
                                    "文字を置き換えた名前でコピーを登録しますか？";
const char* const kUnsendableLine = "「%s」（%s）→「%s」\r\n";
const char* const kTakenOut = "「%s」を取り出しました: %s";

std::string format(const char* pattern, const std::string& first, const std::string& second = {},
                   const std::string& third = {})
{
    std::string text = ui::tr(pattern).toStdString();
    std::size_t at = 0;
    for (const std::string* value : {&first, &second, &third}) {
        at = text.find("%s", at);
        if (at == std::string::npos)
            break;
        text.replace(at, 2, *value);
        at += value->size();
    }
    return text;
}

const char* const kGone =
    "「%s」の登録はもうカタログにありません。一覧の更新を待って選び直してください。";
const char* const kFileLine = "\r\n\r\nファイル: %s";
const char* const kTakeOutFailed = "「%s」を取り出せませんでした。\r\n%s";

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool yes(const std::string& question)
{
    return plat::ask(question, plat::Buttons::YesNo, plat::Icon::Question) == plat::Answer::Yes;
}

void refuse(const std::string& text)
{
    plat::showMessage(text, plat::Icon::Warning);
}

// printf-style text with %s arguments of any length.
std::string withNames(const char* pattern, const std::string& a, const std::string& b = {})
{
    std::string out;
    bool first = true;
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += first ? a : b;
            first = false;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}
} // namespace

std::optional<CatalogRecord>
CatalogFileOps::NodeCatalog::findRegistration(const CatalogRecord& shown)
{
    CCatalog* c = m_source();
    return c ? c->findRegistration(shown) : std::nullopt;
}

void CatalogFileOps::NodeCatalog::deleteEverywhere(const CatalogRecord& record)
{
    if (CCatalog* c = m_source())
        c->deleteEverywhere(record);
}

void CatalogFileOps::NodeCatalog::deleteHere(const CatalogRecord& record)
{
    if (CCatalog* c = m_source())
        c->deleteHere(record);
}

std::string CatalogFileOps::NodeCatalog::contentPath(const CatalogRecord& record)
{
    CCatalog* c = m_source();
    return c ? c->contentPath(record) : std::string();
}

CatalogFileOps::CatalogFileOps(Ui& ui, Catalog& catalog, CPropatyHotLine& settings)
    : m_ui(ui), m_catalog(catalog), m_settings(settings)
{
}

std::string CatalogFileOps::shortcutName(const std::string& fileName)
{
    return CatalogFileRules::shortcutName(fileName);
}

void CatalogFileOps::drop(const std::vector<std::string>& paths)
{
    if (paths.size() == 1)
        dropOne(paths.front());
    else if (paths.size() > 1)
        dropMany(paths);
}

void CatalogFileOps::dropOne(const std::string& path)
{
    const Check check = CatalogFileRules::check(path);
    if (const char* refusal = CatalogFileRules::refusalText(check)) {
        refuse(refusal);
        return;
    }
    if (check == Check::BadName) {
        offerRenamedCopies({path});
        return;
    }
    if (plat::isShortcutName(path)) {
        copyIntoSend(path);
        return;
    }
    m_ui.bringToFront();
    const std::optional<int> method = m_ui.chooseMethod();
    if (!method)
        return;
    if (*method == 1)
        copyIntoSend(path);
    else
        shortcutIntoSend(path);
}

void CatalogFileOps::dropMany(const std::vector<std::string>& paths)
{
    m_ui.bringToFront();
    if (!yes(kManyQuestion))
        return;
    int skipped = 0;
    std::vector<std::string> badNames;
    for (const std::string& path : paths) {
        const Check check = CatalogFileRules::check(path);
        if (check == Check::BadName) {
            badNames.push_back(path);
            continue;
        }
        if (check != Check::Ok) {
            ++skipped;
            continue;
        }
        if (plat::isShortcutName(path))
            copyIntoSend(path);
        else
            shortcutIntoSend(path);
    }
    if (skipped > 0) {
        char text[256];
        std::snprintf(text, sizeof text, ui::tr(kSkipped).toStdString().c_str(), skipped);
        refuse(text);
    }
    if (!badNames.empty())
        offerRenamedCopies(badNames);
}

void CatalogFileOps::offerRenamedCopies(const std::vector<std::string>& paths)
{
    std::vector<std::pair<std::string, std::string>> copies; // path, new name
    std::string lines;
    for (const std::string& path : paths) {
        const std::string name(baseName(path));
        const std::string renamed = CatalogFileRules::sendableName(path);
        if (renamed.empty() || names::unwritableList(name).empty()) {
            refuse(CatalogFileRules::kNameTooLong);
            continue;
        }
        copies.emplace_back(path, renamed);
        lines += format(kUnsendableLine, name, names::unwritableList(name), renamed);
    }
    if (copies.empty())
        return;
    const std::string question =
        copies.size() == 1
            ? format(CatalogFileRules::kUnsendableOne, std::string(baseName(copies[0].first)),
                     names::unwritableList(baseName(copies[0].first)), copies[0].second)
            : format(kUnsendableMany, lines);
    m_ui.bringToFront();
    if (!yes(question.c_str()))
        return;
    for (const auto& [path, name] : copies)
        copyIntoSend(path, name);
}

void CatalogFileOps::copyIntoSend(const std::string& path)
{
    copyIntoSend(path, std::string(baseName(path)));
}

void CatalogFileOps::copyIntoSend(const std::string& path, const std::string& name)
{
    const std::string destination = plat::joinPath(m_settings.getSendFolder(), name);
    if (!m_ui.copyFile(path, destination).ok)
        refuse(CatalogFileRules::kCancelled);
}

void CatalogFileOps::shortcutIntoSend(const std::string& path)
{
    const std::string link =
        plat::joinPath(m_settings.getSendFolder(), shortcutName(std::string(baseName(path))));
    // The same file dropped again: its shortcut is already there and stays as it is.
    std::error_code error;
    if (std::filesystem::is_symlink(link, error) &&
        std::filesystem::read_symlink(link, error) == std::filesystem::path(path)) {
        m_ui.notice(format(CatalogFileRules::kAlreadyRegistered, std::string(baseName(path))));
        return;
    }
    if (!createShortcut(folderOf(path), link, path))
        refuse(CatalogFileRules::kShortcutFailed);
}

bool CatalogFileOps::isOwn(const CatalogRecord& record)
{
    return ui::isOwnRecord(record, m_settings.getNodeName());
}

std::optional<CatalogRecord> CatalogFileOps::selectedEntry()
{
    const std::optional<int> row = m_ui.selectedRow();
    std::optional<CatalogRecord> shown;
    if (row)
        shown = m_ui.rowEntry(*row);
    if (!shown)
        refuse(CatalogFileRules::kNoSelection);
    return shown;
}

std::optional<CatalogRecord> CatalogFileOps::stillRegistered(const CatalogRecord& shown)
{
    std::optional<CatalogRecord> entry = m_catalog.findRegistration(shown);
    if (!entry)
        refuse(withNames(kGone, shown.fileNameUtf8()));
    return entry;
}

bool CatalogFileOps::yesFor(const char* question, const CatalogRecord& shown)
{
    return yes(question + withNames(kFileLine, shown.fileNameUtf8()));
}

void CatalogFileOps::takeOut()
{
    const std::optional<CatalogRecord> shown = selectedEntry();
    if (!shown)
        return;
    if (ui::isManagementFileName(shown->fileNameUtf8())) {
        refuse(CatalogFileRules::kManagementTakeOut);
        return;
    }
    std::optional<CatalogRecord> entry = stillRegistered(*shown);
    if (!entry)
        return;
    if (isOwn(*entry)) {
        refuse(CatalogFileRules::kOwnFile);
        return;
    }
    if (entry->completeFlag() != 1) {
        refuse(CatalogFileRules::kNotReady);
        return;
    }
    const std::optional<std::string> target = m_ui.chooseSavePath(entry->fileNameUtf8());
    if (!target)
        return;
    // The save-as dialog ran the event loop: a purge may have removed the entry meanwhile.
    entry = stillRegistered(*shown);
    if (entry)
        copyOut(*entry, *target);
}

void CatalogFileOps::copyOut(const CatalogRecord& entry, const std::string& target)
{
    const std::string source = m_catalog.contentPath(entry);
    if (source.empty() || !plat::fileExists(source)) {
        reportTakeOutFailure(entry, CatalogFileRules::kNotOnThisNode);
        return;
    }
    // The copy writes under a temporary name and renames it when complete, so a failure never
    // leaves part of the file under the chosen name.
    const CopyResult result = m_ui.copyFile(source, target);
    if (result.ok) // a finished copy is said in the status line
        m_ui.notice(format(kTakenOut, entry.fileNameUtf8(), target));
    if (!result.ok && !result.failure.empty())
        reportTakeOutFailure(entry, result.failure);
}

void CatalogFileOps::reportTakeOutFailure(const CatalogRecord& entry, const std::string& reason)
{
    plat::diag("take out: %s: %s\n", entry.fileNameUtf8().c_str(), reason.c_str());
    refuse(withNames(kTakeOutFailed, entry.fileNameUtf8(), reason));
}

void CatalogFileOps::deleteRegistration()
{
    const std::optional<CatalogRecord> shown = selectedEntry();
    if (!shown)
        return;
    bool forced = false;
    if (ui::isManagementFileName(shown->fileNameUtf8())) {
        if (!yesFor(CatalogFileRules::kForceManagement, *shown))
            return;
        forced = true;
    }
    std::optional<CatalogRecord> entry = stillRegistered(*shown);
    if (!entry)
        return;
    if (isOwn(*entry)) {
        const bool everywhere = yesFor(CatalogFileRules::kDeleteEverywhere, *shown);
        if (!(entry = stillRegistered(*shown)))
            return;
        entry->setKind(catalog::RecordKind::Deleted);
        if (everywhere) {
            m_catalog.deleteEverywhere(*entry);
            return;
        }
    } else if (!forced) {
        if (!yesFor(CatalogFileRules::kForceOther, *shown) || !(entry = stillRegistered(*shown)))
            return;
    }
    entry->setKind(catalog::RecordKind::Deleted);
    m_catalog.deleteHere(*entry);
}
