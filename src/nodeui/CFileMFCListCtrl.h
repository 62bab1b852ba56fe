#pragma once

#include <QTableWidget>

#include <array>
#include <optional>
#include <string>

// The node file pane's list: one row per file, full-row selection and grid lines. Rows of
// management files (column 0 ending in ".nod") are drawn grey; every other row in the list's
// normal text colour.
class CFileMFCListCtrl : public QTableWidget
{
    Q_OBJECT
public:
    static constexpr int kColumns = 4;
    using RowTexts = std::array<std::string, kColumns>;

    explicit CFileMFCListCtrl(QWidget* parent = nullptr);

    // Sets the columns "ファイル名", "登録日時", "有効期限" and "サイズ" (the last right-aligned).
    void setupColumns();
    // Appends a row with these texts, coloured by its file name.
    void appendRow(const RowTexts& texts);
    // Widens the columns to their texts and headers (after the rows are filled).
    void fitColumns();

    std::optional<int> selectedRow() const;
    // Selects the row and scrolls it into view.
    void selectRowShown(int row);
    std::string cellText(int row, int column) const;
    // The text colour of a row: grey for a management file.
    QColor rowTextColour(int row) const;

    static const QColor kManagementGrey;
};
