#include "nodeui/CFileMFCListCtrl.h"

#include "uikit/CatalogRowText.h"
#include "uikit/ListStyle.h"

namespace {
struct ColumnSpec
{
    const char* header;
    int width;
    Qt::Alignment alignment;
};

const ColumnSpec kColumnSpecs[CFileMFCListCtrl::kColumns] = {
    {"ファイル名", 140, Qt::AlignLeft},
    {"登録日時", 110, Qt::AlignLeft},
    {"有効期限", 80, Qt::AlignLeft},
    {"サイズ", 80, Qt::AlignRight},
};
} // namespace

const QColor CFileMFCListCtrl::kManagementGrey(150, 150, 150);

CFileMFCListCtrl::CFileMFCListCtrl(QWidget* parent) : QTableWidget(0, kColumns, parent)
{
    ui::styleReportList(*this);
}

void CFileMFCListCtrl::setupColumns()
{
    for (int c = 0; c < kColumns; ++c) {
        auto* header = new QTableWidgetItem(QString::fromUtf8(kColumnSpecs[c].header));
        header->setTextAlignment(kColumnSpecs[c].alignment | Qt::AlignVCenter);
        setHorizontalHeaderItem(c, header);
        setColumnWidth(c, ui::fontScaledWidth(*this, kColumnSpecs[c].width));
    }
}

void CFileMFCListCtrl::fitColumns()
{
    int widths[kColumns];
    for (int c = 0; c < kColumns; ++c)
        widths[c] = kColumnSpecs[c].width;
    ui::fitColumns(*this, widths, kColumns);
}

void CFileMFCListCtrl::appendRow(const RowTexts& texts)
{
    const int row = rowCount();
    insertRow(row);
    for (int c = 0; c < kColumns; ++c) {
        auto* cell = new QTableWidgetItem(QString::fromStdString(texts[std::size_t(c)]));
        cell->setTextAlignment(kColumnSpecs[c].alignment | Qt::AlignVCenter);
        setItem(row, c, cell);
    }
    const QColor colour = rowTextColour(row);
    for (int c = 0; c < kColumns; ++c)
        item(row, c)->setForeground(colour);
}

QColor CFileMFCListCtrl::rowTextColour(int row) const
{
    if (ui::isManagementFileName(cellText(row, 0)))
        return kManagementGrey;
    return palette().color(QPalette::Text);
}

std::optional<int> CFileMFCListCtrl::selectedRow() const
{
    const QList<QTableWidgetSelectionRange> ranges = selectedRanges();
    if (ranges.isEmpty())
        return std::nullopt;
    return ranges.first().topRow();
}

void CFileMFCListCtrl::selectRowShown(int row)
{
    setCurrentCell(row, 0);
    selectRow(row);
    if (QTableWidgetItem* cell = item(row, 0))
        scrollToItem(cell);
}

std::string CFileMFCListCtrl::cellText(int row, int column) const
{
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text().toStdString() : std::string();
}
