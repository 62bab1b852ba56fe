#pragma once

#include "node/CNodeInfo.h"
#include "node/NodeInfoStore.h"
#include "nodeui/CNodeFileDlg.h"
#include "platform/EventLoop.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CNodeDetailDlg;
class CNodePropatyDlg;
class CPropatyHotLine;
class CTransfer;
class QButtonGroup;
class QPushButton;
class QTableWidget;

// The node-information window: the list of the party's nodes with their presence, time stamp
// and version, the own presence, and the panes of the chosen node's details and files. It
// lives, mostly hidden, as long as the main window and shows the node's information store,
// which the node publishes at its start and every 30 s (timer 201), whether it is shown or not.
class CNodeInfoDlg : public QDialog
{
    Q_OBJECT
public:
    // Runs the own-information dialog; QDialog::Accepted when it ended with OK.
    using DialogRunner = std::function<int(CNodePropatyDlg&)>;
    // The Skype ID the messaging client reports for its user; empty while none is known.
    using SkypeIdSource = std::function<std::string()>;

    explicit CNodeInfoDlg(QWidget* parent = nullptr);
    ~CNodeInfoDlg() override;

    // The window's creation: panes, list columns, the own presence and the party's list as the
    // node's store holds them (the store outlives the window). transfer may be nullptr (no
    // Skype ID is offered then); the file pane shows the files of the catalog that catalog hands
    // out (none: no files).
    void initialise(NodeInfoStore& store, CTransfer* transfer, CPropatyHotLine& settings,
                    CNodeFileDlg::CatalogSource catalog = {});
    void setDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }
    void setSkypeIdSource(SkypeIdSource source) { m_ownSkypeId = std::move(source); }
    // Where a saved own information is said (the main window's status line).
    void setNotice(std::function<void(const std::string&)> notice) { m_notice = std::move(notice); }

    // Centres the window on its parent (or the screen) and shows it in front.
    void showCentred();

    // The node published: the list it read.
    void showNodes(const std::vector<CNodeInfo>& nodes);
    // One publishing step of the store now, then the list (what the node's timer 201 does).
    void publish();
    // A presence radio was clicked.
    void presenceClicked(int presence);
    // Button 1068.
    void editOwnInfo();
    // A click on a node row.
    void rowClicked(int row);

    const std::vector<CNodeInfo>& nodes() const { return m_nodes; }
    NodeInfoStore& store() { return *m_store; }
    QTableWidget& nodeList() { return *m_list; }
    QButtonGroup& presenceGroup() { return *m_presence; }
    CNodeDetailDlg& detail() { return *m_detail; }
    CNodeFileDlg& files() { return *m_files; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void setupList();
    void fillList();
    std::optional<std::string> selectedNodeName() const;
    std::string ownSkypeId() const;

    QTableWidget* m_list = nullptr;
    QButtonGroup* m_presence = nullptr;
    QPushButton* m_ownSettings = nullptr;
    QPushButton* m_close = nullptr;
    CNodeDetailDlg* m_detail = nullptr;
    CNodeFileDlg* m_files = nullptr;
    CTransfer* m_transfer = nullptr;
    CPropatyHotLine* m_settings = nullptr;
    NodeInfoStore* m_store = nullptr;
    std::vector<CNodeInfo> m_nodes;
    DialogRunner m_runDialog;
    SkypeIdSource m_ownSkypeId;
    std::function<void(const std::string&)> m_notice;
    bool m_sized = false; // given its layout's size before it was first shown
};
