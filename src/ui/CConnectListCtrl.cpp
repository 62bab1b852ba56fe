#include "ui/CConnectListCtrl.h"

#include "app/CPropatyHotLine.h"
#include "ui/ListStyle.h"

#include <QHeaderView>

#include <algorithm>

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

void CConnectListCtrl::insertConnection(int index, const std::string& nodeName)
{
    index = std::clamp(index, 0, rowCount());
    insertRow(index);
    for (int c = 0; c < ColumnCount; ++c)
        setItem(index, c, new QTableWidgetItem);
    setCell(index, NodeName, nodeName);
    colourRow(index);
}

void CConnectListCtrl::removeConnection(int index)
{
    if (index >= 0 && index < rowCount())
        removeRow(index);
}

ConnectionRecord CConnectListCtrl::record(int row) const
{
    return ConnectionRecord{cell(row, NodeName), cell(row, Method), cell(row, Address),
                            cell(row, Comment)};
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

std::string CConnectListCtrl::hostName(int row) const
{
    return addressHost(cell(row, Address));
}

int CConnectListCtrl::port(int row) const
{
    return addressPort(cell(row, Address));
}

std::string CConnectListCtrl::findNodeName(const std::string& method, const std::string& host) const
{
    for (int row = 0; row < rowCount(); ++row)
        if (cell(row, Method) == method && hostName(row) == host)
            return cell(row, NodeName);
    return {};
}

void CConnectListCtrl::renameNode(const std::string& method, const std::string& host,
                                  const std::string& oldName, const std::string& newName)
{
    for (int row = 0; row < rowCount(); ++row)
        if (cell(row, Method) == method && hostName(row) == host && cell(row, NodeName) == oldName)
            setCell(row, NodeName, newName);
}

bool CConnectListCtrl::hasSkypeId(const std::string& skypeId) const
{
    for (int row = 0; row < rowCount(); ++row)
        if (cell(row, Method) == "SKYPE" && cell(row, Address) == skypeId)
            return true;
    return false;
}

std::string CConnectListCtrl::settingText(std::string text)
{
    if (text.size() > kMaxSettingBytes) {
        std::size_t end = kMaxSettingBytes;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        text.resize(end);
    }
    return text;
}

const char* CConnectListCtrl::methodText(int method)
{
    switch (method) {
    case CPropatyHotLine::kMethodSkype:
        return "SKYPE";
    case CPropatyHotLine::kMethodTcp:
        return "TCP";
    default:
        return nullptr;
    }
}

void CConnectListCtrl::colourRow(int row)
{
    const QColor back =
        cell(row, State) == kConnectedText ? kConnected : palette().color(QPalette::Base);
    for (int c = 0; c < ColumnCount; ++c)
        if (QTableWidgetItem* it = item(row, c))
            it->setBackground(back);
}
