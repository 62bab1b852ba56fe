#pragma once

class QTableWidget;

namespace ui {

// The report-view look both lists of the main window share: full-row single selection, grid
// lines, headers that do not sort, no editing, no row numbers.
void styleReportList(QTableWidget& list);

} // namespace ui
