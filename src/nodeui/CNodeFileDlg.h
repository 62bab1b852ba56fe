#pragma once

#include "platform/EventLoop.h"
#include "wire/CatalogRecord.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class CCatalog;
class CFileMFCListCtrl;
class CPropatyHotLine;
class QCheckBox;
class QLabel;
class QPushButton;

// The node-information window's pane of one node's files: what the own node publishes, or
// what was received from another. A received file can be taken out (copied elsewhere); an own
// registration can be withdrawn from the whole party. Management files (".nod") are listed grey
// and refused by both. Every refusal is a message and leaves the list and the catalog as they
// are; the catalog is changed only through its own operations.
class CNodeFileDlg : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kAutoUpdateTimer = 105;
    static constexpr int kAutoUpdatePeriodMs = 1000;

    using CatalogSource = std::function<CCatalog*()>;
    // The save-as dialog: proposed name → chosen path, or nullopt on cancel.
    using SavePathChooser = std::function<std::optional<std::string>(const std::string&)>;
    // The copy of a received file to the chosen path; false when it failed or was cancelled.
    using FileCopier = std::function<bool(const std::string& from, const std::string& to)>;

    explicit CNodeFileDlg(QWidget* parent = nullptr);
    ~CNodeFileDlg() override;

    // Columns, the title and buttons of "no node", timer 105. catalog hands out the node's
    // catalog, or nullptr once it has gone; empty: no catalog, no files.
    void initialise(CPropatyHotLine& settings, CatalogSource catalog = {});
    void setSavePathChooser(SavePathChooser chooser) { m_chooseSavePath = std::move(chooser); }
    void setFileCopier(FileCopier copier) { m_copy = std::move(copier); }

    // Follows node from now on: title, buttons, list.
    void showNode(const std::string& node);
    // Rebuilds the list from the catalog, keeping the selected file selected.
    void reload();
    void takeOut();
    void deleteRegistration();
    // Timer 105.
    void onTimer();

    const std::optional<std::string>& node() const { return m_node; }
    bool ownNode() const { return m_ownNode; }
    const std::vector<CatalogRecord>& entries() const { return m_entries; }
    CFileMFCListCtrl& list() { return *m_list; }
    QLabel& title() { return *m_title; }
    QCheckBox& autoUpdate() { return *m_autoUpdate; }
    QPushButton& takeOutButton() { return *m_takeOut; }
    QPushButton& deleteButton() { return *m_delete; }

private:
    void buildControls();
    void applyTitleAndButtons();
    void fill();
    // The selected row's entry as the catalog holds it now, after the checks common to both
    // commands; nullopt (with its message shown) when one refuses.
    std::optional<CatalogRecord> selectedEntry(const char* managementRefusal);
    CCatalog* catalog() const;

    CFileMFCListCtrl* m_list = nullptr;
    QLabel* m_title = nullptr;
    QCheckBox* m_autoUpdate = nullptr;
    QPushButton* m_takeOut = nullptr;
    QPushButton* m_delete = nullptr;
    std::optional<std::string> m_node;
    bool m_ownNode = false;
    CPropatyHotLine* m_settings = nullptr;
    CatalogSource m_catalog;
    SavePathChooser m_chooseSavePath;
    FileCopier m_copy;
    std::vector<CatalogRecord> m_entries;
    plat::TimerSet m_timers;
};
