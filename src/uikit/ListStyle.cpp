#include "uikit/ListStyle.h"

#include <QHeaderView>
#include <QTableWidget>

#include <algorithm>
#include <cmath>

namespace ui {

void styleReportList(QTableWidget& list)
{
    list.setSelectionBehavior(QAbstractItemView::SelectRows);
    list.setSelectionMode(QAbstractItemView::SingleSelection);
    list.setEditTriggers(QAbstractItemView::NoEditTriggers);
    list.setShowGrid(true);
    list.setSortingEnabled(false);
    list.setWordWrap(false);
    list.verticalHeader()->setVisible(false);
    list.verticalHeader()->setDefaultSectionSize(list.fontMetrics().height() + 4);
    list.horizontalHeader()->setSectionsClickable(false);
    list.horizontalHeader()->setHighlightSections(false);
    list.horizontalHeader()->setStretchLastSection(false);
    list.setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

int fontScaledWidth(const QWidget& widget, int pixels)
{
    // The widths were chosen for a font whose digits are 6 pixels wide.
    const double digit = widget.fontMetrics().horizontalAdvance(QLatin1Char('0'));
    return static_cast<int>(std::lround(pixels * std::max(1.0, digit / 6.0)));
}

} // namespace ui

namespace ui {

void fitColumns(QTableWidget& list, const int* pixels, int count)
{
    for (int c = 0; c < count; ++c) {
        list.resizeColumnToContents(c); // the wider of the cells' texts and the header
        list.setColumnWidth(c, std::max(list.columnWidth(c), fontScaledWidth(list, pixels[c])));
    }
}

} // namespace ui
