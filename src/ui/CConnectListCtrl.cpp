#include "ui/CConnectListCtrl.h"

#include "uikit/ListStyle.h"

#include <QHeaderView>

namespace {
struct ColumnSpec
{
    const char* header;
    int width;
};

const ColumnSpec kColumns[CConnectListCtrl::ColumnCount] = {
    {"接続ノード名", 100}, {"接続方式", 65}, {"接続先", 100}, {"接続状態", 65}, {"コメント", 230},
};
} // namespace

const QColor CConnectListCtrl::kConnected(210, 210, 255);
const char* const CConnectListCtrl::kConnectedText = "接続";
const char* const CConnectListCtrl::kNotConnectedText = "未接続";

CConnectListCtrl::CConnectListCtrl(QWidget* parent) : QTableWidget(0, ColumnCount, parent)
{
    ui::styleReportList(*this);
    for (int c = 0; c < ColumnCount; ++c) {
        setHorizontalHeaderItem(c, new QTableWidgetItem(QString::fromUtf8(kColumns[c].header)));
        setColumnWidth(c, ui::fontScaledWidth(*this, kColumns[c].width));
    }
}

std::string CConnectListCtrl::cell(int row, int column) const
{
    const QTableWidgetItem* it = item(row, column);
    return it ? it->text().toStdString() : std::string();
}

void CConnectListCtrl::setCell(int row, int column, const std::string& text)
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= ColumnCount)
        return;
    QTableWidgetItem* it = item(row, column);
    if (!it) {
        it = new QTableWidgetItem;
        setItem(row, column, it);
    }
    it->setText(QString::fromStdString(text));
    if (column == State)
        colourRow(row);
}

CConnectListCtrl::~CConnectListCtrl()
{
    if (m_list)
        m_list->setListener(nullptr);
}

void CConnectListCtrl::display(ConnectionList* list)
{
    if (m_list)
        m_list->setListener(nullptr);
    m_list = list;
    setRowCount(0);
    if (!m_list)
        return;
    m_list->setListener(this);
    for (int i = 0; i < m_list->count(); ++i)
        connectionInserted(i);
}

void CConnectListCtrl::connectionInserted(int index)
{
    insertRow(index);
    for (int c = 0; c < ColumnCount; ++c)
        setItem(index, c, new QTableWidgetItem);
    connectionChanged(index);
    colourRow(index);
}

void CConnectListCtrl::connectionRemoved(int index)
{
    removeRow(index);
}

void CConnectListCtrl::connectionChanged(int index)
{
    const ConnectionRecord c = m_list->at(index);
    setCell(index, NodeName, c.nodeName);
    setCell(index, Method, c.connectMethod);
    setCell(index, Address, c.address);
    setCell(index, Comment, c.comment);
}

void CConnectListCtrl::showStates(const std::vector<bool>& connected)
{
    setUpdatesEnabled(false);
    bool changed = false;
    for (int row = 0; row < rowCount(); ++row) {
        const bool up = row < static_cast<int>(connected.size()) && connected[row];
        const std::string text = up ? kConnectedText : kNotConnectedText;
        if (cell(row, State) != text) {
            setCell(row, State, text);
            changed = true;
        }
    }
    if (changed) {
        // The rows' texts decide the widths, never less than the given ones.
        int widths[ColumnCount];
        for (int c = 0; c < ColumnCount; ++c)
            widths[c] = kColumns[c].width;
        ui::fitColumns(*this, widths, ColumnCount);
    }
    setUpdatesEnabled(true);
    viewport()->update();
}

std::optional<int> CConnectListCtrl::selectedRow() const
{
    const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
    if (ranges.isEmpty())
        return std::nullopt;
    return ranges.first().topRow();
}

void CConnectListCtrl::colourRow(int row)
{
    const QColor back =
        cell(row, State) == kConnectedText ? kConnected : palette().color(QPalette::Base);
    for (int c = 0; c < ColumnCount; ++c)
        if (QTableWidgetItem* it = item(row, c))
            it->setBackground(back);
}
