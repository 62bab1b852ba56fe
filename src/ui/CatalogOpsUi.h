#pragma once

#include "ui/CatalogFileOps.h"

#include <functional>

class CCatalogListCtrl;
class QWidget;

// The catalog list's file operations as the main window shows them: its selection, the
// registration-method and save-as dialogs, and the copy with a progress dialog. Headless, the
// dialogs cancel, since nobody could answer them.
class CatalogOpsUi : public CatalogFileOps::Ui
{
public:
    CatalogOpsUi(QWidget& window, CCatalogListCtrl& list, bool headless);

    std::optional<int> selectedRow() override;
    std::optional<CatalogRecord> rowEntry(int row) override;
    void bringToFront() override;
    std::optional<int> chooseMethod() override;
    std::optional<std::string> chooseSavePath(const std::string& proposedName) override;
    CatalogFileOps::CopyResult copyFile(const std::string& from, const std::string& to) override;
    void notice(const std::string& text) override;
    void setNotice(std::function<void(const std::string&)> notice) { m_notice = std::move(notice); }

private:
    QWidget& m_window;
    CCatalogListCtrl& m_list;
    bool m_headless;
    std::function<void(const std::string&)> m_notice;
};
