#include "ui/CatalogOpsUi.h"

#include "app/ShellUtil.h"
#include "ui/CCatalogListCtrl.h"
#include "ui/CEntryDlg.h"
#include "ui/CatalogRowText.h"
#include "ui/QtCopyProgress.h"
#include "ui/QtFileDialogs.h"

#include <QWidget>

CatalogOpsUi::CatalogOpsUi(QWidget& window, CCatalogListCtrl& list, bool headless)
    : m_window(window), m_list(list), m_headless(headless)
{
}

std::optional<int> CatalogOpsUi::selectedRow()
{
    return m_list.selectedRow();
}

std::string CatalogOpsUi::fileNameCell(int row)
{
    return m_list.cellText(row, ui::CatalogColumn::FileName);
}

void CatalogOpsUi::bringToFront()
{
    m_window.raise();
    m_window.activateWindow();
}

std::optional<int> CatalogOpsUi::chooseMethod()
{
    if (m_headless)
        return std::nullopt;
    CEntryDlg dialog(&m_window);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.method();
}

std::optional<std::string> CatalogOpsUi::chooseSavePath(const std::string& proposedName)
{
    if (m_headless)
        return std::nullopt;
    return ui::chooseSavePath(&m_window, proposedName);
}

bool CatalogOpsUi::copyFile(const std::string& from, const std::string& to)
{
    QtCopyProgress progress(&m_window);
    return copyFiles({to}, {from}, &progress) == 1;
}

void CatalogOpsUi::notice(const std::string& text)
{
    if (m_notice)
        m_notice(text);
}
