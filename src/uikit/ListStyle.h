#pragma once

class QTableWidget;
class QWidget;

namespace ui {

// The report-view look both lists of the main window share: full-row single selection, grid
// lines, headers that do not sort, no editing, no row numbers.
void styleReportList(QTableWidget& list);

// Each column as wide as its widest text and its header, and never narrower than its given
// width (pixels[c], for the original font, scaled as fontScaledWidth does).
void fitColumns(QTableWidget& list, const int* pixels, int count);

// A column width given for the window's original small font, widened in proportion for the font
// in use, so that dates and sizes are not cut off.
int fontScaledWidth(const QWidget& widget, int pixels);

} // namespace ui
