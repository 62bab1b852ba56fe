#include "ui/ListStyle.h"

#include <QHeaderView>
#include <QTableWidget>

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

} // namespace ui
