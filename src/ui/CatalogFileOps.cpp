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

class ProcessCatalog : public CatalogFileOps::Catalog
{
public:
    CatalogRecord getRecord(int index) override { return CCatalog::instance()->getRecord(index); }
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

bool yes(const char* question)
{
    return plat::ask(question, plat::Buttons::YesNo, plat::Icon::Question) == plat::Answer::Yes;
}

void refuse(const char* text)
{
    plat::showMessage(text, plat::Icon::Warning);
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
    if (!m_ui.copyFile(path, destination))
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

void CatalogFileOps::takeOut()
{
    const std::optional<int> row = m_ui.selectedRow();
    if (!row) {
        refuse(kNoSelection);
        return;
    }
    if (ui::isManagementFileName(m_ui.fileNameCell(*row))) {
        refuse(kManagementTakeOut);
        return;
    }
    const CatalogRecord record = m_catalog.getRecord(*row);
    if (isOwn(record)) {
        refuse(kOwnFile);
        return;
    }
    if (record.completeFlag() != 1) {
        refuse(kNotReady);
        return;
    }
    const std::optional<std::string> target = m_ui.chooseSavePath(record.fileNameUtf8());
    if (!target)
        return;
    const std::string source = m_catalog.contentPath(record);
    if (source.empty()) {
        plat::diag("take out: no safe path for the record's file\n");
        return;
    }
    // The shell shows its own errors; the outcome is not reported further.
    m_ui.copyFile(source, *target);
}

void CatalogFileOps::deleteRegistration()
{
    const std::optional<int> row = m_ui.selectedRow();
    if (!row) {
        refuse(kNoSelection);
        return;
    }
    bool forced = false;
    if (ui::isManagementFileName(m_ui.fileNameCell(*row))) {
        if (!yes(kForceManagement))
            return;
        forced = true;
    }
    CatalogRecord record = m_catalog.getRecord(*row);
    record.setKind(catalog::RecordKind::Deleted);
    if (isOwn(record)) {
        if (yes(kDeleteEverywhere)) {
            m_catalog.deleteEverywhere(record);
            return;
        }
    } else if (!forced && !yes(kForceOther)) {
        return;
    }
    m_catalog.deleteHere(record);
}
