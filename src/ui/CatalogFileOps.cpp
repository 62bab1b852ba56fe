#include "ui/CatalogFileOps.h"

#include "app/CPropatyHotLine.h"
#include "app/ShellUtil.h"
#include "catalog/CCatalog.h"
#include "platform/Diag.h"
#include "platform/Files.h"
#include "platform/FindRecord.h"
#include "platform/Prompt.h"
#include "platform/Shortcut.h"
#include "ui/CatalogRowText.h"

#include <cstdio>

namespace {
using plat::baseName;
const char* const kNoStatus = "ファイル状態の取得に失敗しました。再度実行してみてください。";
const char* const kBadKind = "取り扱いできない形式のファイルです";
const char* const kEmpty = "サイズが０のファイルは登録できません";
const char* const kManyQuestion =
    "複数ファイルがドロップされました.全てショートカット作成の扱いになります。\r\nよろしいですか？";
const char* const kSkipped =
    "%d個のファイルが取り扱いできないファイルでした。処理をスキップしました";
const char* const kCancelled = "操作はキャンセルされました";
const char* const kShortcutFailed = "ショートカットの作成に失敗しました.";
const char* const kNoSelection = "ファイルが選択されていません";
const char* const kManagementTakeOut = "管理用ファイルは取り出しできません";
const char* const kOwnFile = "このファイルは自ノードで登録したファイルです。";
const char* const kNotReady = "このファイルはまだ食べ頃ではありません。後ほどお願いします";
const char* const kForceManagement =
    "管理用ファイルは削除できません.強制削除しますか？\r\n"
    "強制削除は他ノードへの波及はしませんがネットワークの整合性を損なう恐れがあります.";
const char* const kDeleteEverywhere = "選択したファイルとネットワークへの登録を削除します。"
                                      "この操作はネットワーク上他ノードのファイルも消去します。";
const char* const kForceOther =
    "このファイルは他ノードで登録したファイルです. 強制削除しますか？\r\n"
    "強制削除は他ノードへの波及はしませんがネットワークの整合性を損なう恐れがあります.";
const char* const kShortcutSuffix = "へのショートカット";
const char* const kGone =
    "「%s」の登録はもうカタログにありません。一覧の更新を待って選び直してください。";
const char* const kFileLine = "\r\n\r\nファイル: %s";
const char* const kTakeOutFailed = "「%s」を取り出せませんでした。\r\n%s";
const char* const kNotOnThisNode =
    "受信したファイルがこのノードにありません（削除された可能性があります）";

class ProcessCatalog : public CatalogFileOps::Catalog
{
public:
    std::optional<CatalogRecord> findRegistration(const CatalogRecord& shown) override
    {
        return CCatalog::instance()->findRegistration(shown);
    }
    void deleteEverywhere(const CatalogRecord& r) override
    {
        CCatalog::instance()->deleteEverywhere(r);
    }
    void deleteHere(const CatalogRecord& r) override { CCatalog::instance()->deleteHere(r); }
    std::string contentPath(const CatalogRecord& r) override
    {
        return CCatalog::instance()->contentPath(r);
    }
};

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

CatalogFileOps::Catalog& CatalogFileOps::processCatalog()
{
    static ProcessCatalog catalog;
    return catalog;
}

CatalogFileOps::CatalogFileOps(Ui& ui, Catalog& catalog, CPropatyHotLine& settings)
    : m_ui(ui), m_catalog(catalog), m_settings(settings)
{
}

std::string CatalogFileOps::shortcutName(const std::string& fileName)
{
    return fileName + kShortcutSuffix + ".lnk";
}

// Only plain files (attributes 0 or archive) of some size can be registered. A name the records'
// code page cannot hold could never be registered, so it is refused here as well.
CatalogFileOps::Check CatalogFileOps::checkDropped(const std::string& path)
{
    plat::FindRecord status;
    switch (plat::statFindRecord(path, status)) {
    case plat::FindResult::Ok:
        break;
    case plat::FindResult::BadName:
        return Check::BadKind;
    default:
        return Check::NoStatus;
    }
    const std::uint32_t attributes = status.attributes();
    if (attributes != 0 && attributes != plat::FindAttr::Archive)
        return Check::BadKind;
    if (status.size() == 0)
        return Check::Empty;
    return Check::Ok;
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
    switch (checkDropped(path)) {
    case Check::NoStatus:
        refuse(kNoStatus);
        return;
    case Check::BadKind:
        refuse(kBadKind);
        return;
    case Check::Empty:
        refuse(kEmpty);
        return;
    case Check::Ok:
        break;
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
    for (const std::string& path : paths) {
        if (checkDropped(path) != Check::Ok) {
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
        std::snprintf(text, sizeof text, kSkipped, skipped);
        refuse(text);
    }
}

void CatalogFileOps::copyIntoSend(const std::string& path)
{
    const std::string destination = plat::joinPath(m_settings.getSendFolder(), baseName(path));
    if (!m_ui.copyFile(path, destination).ok)
        refuse(kCancelled);
}

void CatalogFileOps::shortcutIntoSend(const std::string& path)
{
    const std::string link =
        plat::joinPath(m_settings.getSendFolder(), shortcutName(std::string(baseName(path))));
    if (!createShortcut(folderOf(path), link, path))
        refuse(kShortcutFailed);
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
        refuse(kNoSelection);
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
        refuse(kManagementTakeOut);
        return;
    }
    std::optional<CatalogRecord> entry = stillRegistered(*shown);
    if (!entry)
        return;
    if (isOwn(*entry)) {
        refuse(kOwnFile);
        return;
    }
    if (entry->completeFlag() != 1) {
        refuse(kNotReady);
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
        reportTakeOutFailure(entry, kNotOnThisNode);
        return;
    }
    // The copy writes under a temporary name and renames it when complete, so a failure never
    // leaves part of the file under the chosen name.
    const CopyResult result = m_ui.copyFile(source, target);
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
        if (!yesFor(kForceManagement, *shown))
            return;
        forced = true;
    }
    std::optional<CatalogRecord> entry = stillRegistered(*shown);
    if (!entry)
        return;
    if (isOwn(*entry)) {
        const bool everywhere = yesFor(kDeleteEverywhere, *shown);
        if (!(entry = stillRegistered(*shown)))
            return;
        entry->setKind(catalog::RecordKind::Deleted);
        if (everywhere) {
            m_catalog.deleteEverywhere(*entry);
            return;
        }
    } else if (!forced) {
        if (!yesFor(kForceOther, *shown) || !(entry = stillRegistered(*shown)))
            return;
    }
    entry->setKind(catalog::RecordKind::Deleted);
    m_catalog.deleteHere(*entry);
}
