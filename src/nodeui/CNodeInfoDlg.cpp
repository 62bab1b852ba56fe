#include "nodeui/CNodeInfoDlg.h"

#include "app/CPropatyHotLine.h"
#include "nodeui/CNodeDetailDlg.h"
#include "nodeui/CNodeFileDlg.h"
#include "nodeui/CNodePropatyDlg.h"
#include "transfer/CTransfer.h"
#include "uikit/ListStyle.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {
struct ColumnSpec
{
    const char* header;
    int width;
};

const ColumnSpec kColumns[] = {
    {"ノード名", 100},
    {"状態", 110},
    {"TimeStamp", 110},
    {"Ver", 100},
};
constexpr int kColumnCount = int(std::size(kColumns));
const char* const kOwnInfoSaved =
    "自ノード情報を保存しました。次の公開（30秒以内）で他ノードに伝わります。";

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}
} // namespace

CNodeInfoDlg::CNodeInfoDlg(QWidget* parent) : QDialog(parent)
{
    buildControls();
    m_runDialog = [](CNodePropatyDlg& dialog) {
        // Without a screen nobody could answer the dialog: it is cancelled.
        if (QGuiApplication::platformName() == QStringLiteral("offscreen"))
            return int(QDialog::Rejected);
        return dialog.exec();
    };
    m_ownSkypeId = [this] { return ownSkypeId(); };
}

CNodeInfoDlg::~CNodeInfoDlg() = default;

void CNodeInfoDlg::buildControls()
{
    setWindowTitle(QStringLiteral("ノード情報"));
    m_ownSettings = new QPushButton(QStringLiteral("自ノード情報設定"), this);
    m_ownSettings->setObjectName(QStringLiteral("1068"));
    m_close = new QPushButton(QStringLiteral("閉じる"), this);
    m_close->setObjectName(QStringLiteral("8"));

    auto* presenceBox = new QGroupBox(QStringLiteral("プレゼンス"), this);
    auto* presenceLayout = new QHBoxLayout(presenceBox);
    m_presence = new QButtonGroup(this);
    const struct
    {
        const char* text;
        const char* id;
        int presence;
    } radios[] = {
        {"在席（コンタクト可)", "1062", CNodeInfo::PRESENCE_CONTACTABLE},
        {"在席(コンタクト不可)", "1064", CNodeInfo::PRESENCE_NOT_CONTACTABLE},
        {"不在", "1063", CNodeInfo::PRESENCE_ABSENT},
    };
    for (const auto& r : radios) {
        auto* radio = new QRadioButton(QString::fromUtf8(r.text), presenceBox);
        radio->setObjectName(QString::fromUtf8(r.id));
        m_presence->addButton(radio, r.presence);
        presenceLayout->addWidget(radio);
    }

    m_list = new QTableWidget(0, kColumnCount, this);
    m_list->setObjectName(QStringLiteral("1059"));
    m_detail = new CNodeDetailDlg(this);
    m_files = new CNodeFileDlg(this);

    auto* top = new QHBoxLayout;
    top->addWidget(presenceBox, 1);
    top->addWidget(m_ownSettings);
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(QStringLiteral("ノード一覧"), this));
    left->addWidget(m_list, 1);
    left->addWidget(m_detail, 1);
    auto* panes = new QHBoxLayout;
    panes->addLayout(left, 1);
    panes->addWidget(m_files, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(panes, 1);
    layout->addLayout(bottom);

    connect(m_ownSettings, &QPushButton::clicked, this, &CNodeInfoDlg::editOwnInfo);
    connect(m_close, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_presence, &QButtonGroup::idClicked, this, &CNodeInfoDlg::presenceClicked);
    connect(m_list, &QTableWidget::cellClicked, this, [this](int row, int) { rowClicked(row); });
}

void CNodeInfoDlg::setupList()
{
    ui::styleReportList(*m_list);
    for (int c = 0; c < kColumnCount; ++c) {
        m_list->setHorizontalHeaderItem(
            c, new QTableWidgetItem(QString::fromUtf8(kColumns[c].header)));
        m_list->setColumnWidth(c, ui::fontScaledWidth(*m_list, kColumns[c].width));
    }
}

void CNodeInfoDlg::initialise(NodeInfoStore& store, CTransfer* transfer, CPropatyHotLine& settings,
                              CNodeFileDlg::CatalogSource catalog)
{
    m_transfer = transfer;
    m_settings = &settings;
    m_detail->show();
    m_files->initialise(settings, std::move(catalog));
    m_files->show();
    setupList();
    m_store = &store;
    if (QAbstractButton* radio = m_presence->button(m_store->own().presence))
        radio->setChecked(true);
    showNodes(m_store->loadNodeList());
}

void CNodeInfoDlg::showNodes(const std::vector<CNodeInfo>& nodes)
{
    m_nodes = nodes;
    fillList();
}

void CNodeInfoDlg::publish()
{
    if (m_store)
        showNodes(m_store->refresh());
}

void CNodeInfoDlg::presenceClicked(int presence)
{
    if (!m_store)
        return;
    m_store->own().presence = presence;
    m_store->saveOwnInfo();
}

std::string CNodeInfoDlg::ownSkypeId() const
{
    // The Skype user model lives exactly as long as the transports the coordinator created.
    if (!m_transfer)
        return {};
    return m_transfer->ownSkypeId();
}

void CNodeInfoDlg::editOwnInfo()
{
    if (!m_store)
        return;
    CNodePropatyDlg dialog(&m_store->own(), m_ownSkypeId ? m_ownSkypeId() : std::string(), this);
    if (m_runDialog(dialog) != QDialog::Accepted)
        return;
    m_store->saveOwnInfo();
    if (m_notice)
        m_notice(kOwnInfoSaved);
}

void CNodeInfoDlg::rowClicked(int row)
{
    if (row < 0 || std::size_t(row) >= m_nodes.size())
        return;
    const CNodeInfo& node = m_nodes[std::size_t(row)];
    m_detail->showInfo(node);
    m_files->showNode(node.nodeName);
}

std::optional<std::string> CNodeInfoDlg::selectedNodeName() const
{
    const QList<QTableWidgetSelectionRange> ranges = m_list->selectedRanges();
    if (ranges.isEmpty())
        return std::nullopt;
    const QTableWidgetItem* cell = m_list->item(ranges.first().topRow(), 0);
    return cell ? std::optional(cell->text().toStdString()) : std::nullopt;
}

void CNodeInfoDlg::fillList()
{
    const auto selected = selectedNodeName();
    m_list->setUpdatesEnabled(false);
    m_list->setRowCount(0);
    std::optional<int> again;
    for (const CNodeInfo& node : m_nodes) {
        const int row = m_list->rowCount();
        m_list->insertRow(row);
        const std::string texts[kColumnCount] = {node.nodeName, presenceText(node.presence),
                                                 timeStampText(node.timeStamp), node.version};
        for (int c = 0; c < kColumnCount; ++c)
            m_list->setItem(row, c, new QTableWidgetItem(qs(texts[c])));
        if (m_detail->hasNode() && m_detail->info().nodeName == node.nodeName)
            m_detail->showInfo(node);
        if (selected && !again && *selected == node.nodeName)
            again = row;
    }
    int widths[kColumnCount];
    for (int c = 0; c < kColumnCount; ++c)
        widths[c] = kColumns[c].width;
    // Presence texts, time stamps and versions are never cut: the columns follow their texts.
    ui::fitColumns(*m_list, widths, kColumnCount);
    if (again) {
        m_list->setCurrentCell(*again, 0);
        m_list->selectRow(*again);
        m_list->scrollToItem(m_list->item(*again, 0));
    }
    m_list->setUpdatesEnabled(true);
}

void CNodeInfoDlg::showCentred()
{
    // Before the first showing the window has no size of its own yet: take its layout's, so that
    // the centring below places the window it will really be.
    if (!m_sized && layout()) {
        m_sized = true;
        layout()->activate();
        resize(sizeHint().expandedTo(minimumSizeHint()));
    }
    const QWidget* anchor = parentWidget();
    const QRect available = screen() ? screen()->availableGeometry() : QRect();
    const QRect area = anchor && anchor->isVisible() ? anchor->frameGeometry() : available;
    if (area.isValid()) {
        QRect frame = frameGeometry();
        frame.moveCenter(area.center());
        // Wholly on the screen, even over a parent near its edge.
        if (available.isValid()) {
            frame.moveLeft(std::max(available.left(),
                                    std::min(frame.left(), available.right() + 1 - frame.width())));
            frame.moveTop(std::max(available.top(),
                                   std::min(frame.top(), available.bottom() + 1 - frame.height())));
        }
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
}

void CNodeInfoDlg::closeEvent(QCloseEvent* event)
{
    // Closing only hides: the window keeps publishing.
    hide();
    event->ignore();
}
