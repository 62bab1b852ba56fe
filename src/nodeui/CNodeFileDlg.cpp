#include "nodeui/CNodeFileDlg.h"

#include "app/CPropatyHotLine.h"
#include "app/ShellUtil.h"
#include "catalog/CCatalog.h"
#include "nodeui/CFileMFCListCtrl.h"
#include "platform/Prompt.h"
#include "uikit/CatalogRowText.h"
#include "uikit/QtCopyProgress.h"
#include "uikit/QtFileDialogs.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const char* const kIncomingTitle = "着信ファイル一覧";
const char* const kRegisteredTitle = "登録ファイル一覧";
const char* const kNoNode = "ノードが選択されていません.";
const char* const kNoFile = "ファイルが選択されていません";
const char* const kNoTakeOut = "管理用ファイルは取り出しできません";
const char* const kNoDelete = "管理用ファイルは削除できません";
const char* const kCatalogError =
    "カタログ情報の読み込みでエラーが発生しました。一覧を更新して下さい";
const char* const kNotRipe = "このファイルはまだ食べ頃ではありません。後ほどお願いします";
const char* const kDeleteQuestion = "選択したファイルとネットワークへの登録を削除します。"
                                    "この操作はネットワーク上他ノードのファイルも消去します。";

bool headless()
{
    return QGuiApplication::platformName() == QStringLiteral("offscreen");
}
} // namespace

CNodeFileDlg::CNodeFileDlg(QWidget* parent)
    : QWidget(parent), m_timers([this](int id) {
          if (id == kAutoUpdateTimer)
              onTimer();
      })
{
    buildControls();
    m_chooseSavePath = [this](const std::string& name) -> std::optional<std::string> {
        // Without a screen nobody could answer the dialog: the take-out is cancelled.
        if (headless())
            return std::nullopt;
        return ui::chooseSavePath(this, name);
    };
    m_copy = [this](const std::string& from, const std::string& to) {
        QtCopyProgress progress(this);
        return copyFiles({to}, {from}, &progress) == 1;
    };
}

CNodeFileDlg::~CNodeFileDlg()
{
    m_timers.kill(kAutoUpdateTimer);
}

void CNodeFileDlg::buildControls()
{
    m_list = new CFileMFCListCtrl(this);
    m_list->setObjectName(QStringLiteral("1073"));
    m_title = new QLabel(QString::fromUtf8(kIncomingTitle), this);
    m_title->setObjectName(QStringLiteral("1074"));
    m_autoUpdate = new QCheckBox(QStringLiteral("自動更新"), this);
    m_autoUpdate->setObjectName(QStringLiteral("1075"));
    m_takeOut = new QPushButton(QStringLiteral("ファイルを取り出す"), this);
    m_takeOut->setObjectName(QStringLiteral("1076"));
    m_delete = new QPushButton(QStringLiteral("登録を削除する"), this);
    m_delete->setObjectName(QStringLiteral("1077"));

    auto* top = new QHBoxLayout;
    top->addWidget(m_title, 1);
    top->addWidget(m_autoUpdate);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_takeOut);
    buttons->addWidget(m_delete);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    connect(m_takeOut, &QPushButton::clicked, this, &CNodeFileDlg::takeOut);
    connect(m_delete, &QPushButton::clicked, this, &CNodeFileDlg::deleteRegistration);
}

void CNodeFileDlg::initialise(CPropatyHotLine& settings, CatalogSource catalog)
{
    m_settings = &settings;
    m_catalog = catalog ? std::move(catalog) : CatalogSource([]() -> CCatalog* { return nullptr; });
    m_list->setupColumns();
    applyTitleAndButtons();
    m_timers.set(kAutoUpdateTimer, kAutoUpdatePeriodMs);
}

CCatalog* CNodeFileDlg::catalog() const
{
    return m_catalog ? m_catalog() : nullptr;
}

void CNodeFileDlg::applyTitleAndButtons()
{
    m_title->setText(QString::fromUtf8(m_ownNode ? kRegisteredTitle : kIncomingTitle));
    m_takeOut->setEnabled(!m_ownNode);
    m_delete->setEnabled(m_ownNode);
}

void CNodeFileDlg::showNode(const std::string& node)
{
    m_node = node;
    m_ownNode = m_settings && node == m_settings->getNodeName();
    applyTitleAndButtons();
    reload();
}

void CNodeFileDlg::onTimer()
{
    if (m_autoUpdate->isChecked() && m_node)
        reload();
}

void CNodeFileDlg::reload()
{
    CCatalog* source = catalog();
    m_entries =
        source && m_node ? source->completeEntriesOf(*m_node) : std::vector<CatalogRecord>{};
    fill();
}

void CNodeFileDlg::fill()
{
    const auto selected = m_list->selectedRow();
    const std::string selectedName = selected ? m_list->cellText(*selected, 0) : std::string();
    m_list->setUpdatesEnabled(false);
    m_list->setRowCount(0);
    std::optional<int> again;
    for (const CatalogRecord& entry : m_entries) {
        CFileMFCListCtrl::RowTexts texts;
        texts[0] = entry.fileNameUtf8();
        texts[1] = ui::registrationText(entry.registrationTime());
        texts[2] = ui::expiryText(entry.expiry());
        texts[3] = ui::sizeText(entry);
        if (selected && !again && texts[0] == selectedName)
            again = m_list->rowCount();
        m_list->appendRow(texts);
    }
    m_list->fitColumns();
    if (again)
        m_list->selectRowShown(*again);
    m_list->setUpdatesEnabled(true);
}

std::optional<CatalogRecord> CNodeFileDlg::selectedEntry(const char* managementRefusal)
{
    if (!m_node) {
        plat::showMessage(kNoNode);
        return std::nullopt;
    }
    const auto row = m_list->selectedRow();
    if (!row || *row < 0 || std::size_t(*row) >= m_entries.size()) {
        plat::showMessage(kNoFile);
        return std::nullopt;
    }
    const std::string fileName = m_entries[std::size_t(*row)].fileNameUtf8();
    if (ui::isManagementFileName(fileName)) {
        plat::showMessage(managementRefusal);
        return std::nullopt;
    }
    CatalogRecord entry;
    CCatalog* source = catalog();
    if (!source || !source->hasEntry(*m_node, fileName, &entry)) {
        plat::showMessage(kCatalogError);
        return std::nullopt;
    }
    return entry;
}

void CNodeFileDlg::takeOut()
{
    const auto entry = selectedEntry(kNoTakeOut);
    if (!entry)
        return;
    if (entry->completeFlag() != 1) {
        plat::showMessage(kNotRipe);
        return;
    }
    // The path comes from the catalog, which refuses names that could leave its folders.
    const std::string from = catalog()->contentPath(*entry);
    if (from.empty()) {
        plat::showMessage(kCatalogError);
        return;
    }
    const auto to = m_chooseSavePath(entry->fileNameUtf8());
    if (!to)
        return;
    m_copy(from, *to);
}

void CNodeFileDlg::deleteRegistration()
{
    auto entry = selectedEntry(kNoDelete);
    if (!entry)
        return;
    // Only the origin node may withdraw a file from the whole party; the button is enabled
    // for the own node alone.
    if (!m_ownNode)
        return;
    if (plat::ask(kDeleteQuestion, plat::Buttons::YesNo) != plat::Answer::Yes)
        return;
    entry->setKind(catalog::RecordKind::Deleted);
    entry->setPendingFlag(1);
    catalog()->deleteEverywhere(*entry);
}
