#include "ui/CPavoDlg.h"

#include "app/CPostError.h"
#include "catalog/CCatalog.h"
#include "control/CliFormat.h"
#include "nodeui/CNodeInfoDlg.h"
#include "platform/Files.h"
#include "platform/Prompt.h"
#include "skype/VX_SKYPECOM.h"
#include "ui/ArrivalNotifier.h"
#include "ui/CCatalogListCtrl.h"
#include "ui/CConnectListCtrl.h"
#include "ui/CMsg.h"
#include "ui/CatalogOpsUi.h"
#include "ui/CatalogSyncFlow.h"
#include "ui/ConnectionCommands.h"
#include "ui/PavoIcons.h"
#include "ui/SystemPropertiesFlow.h"
#include "ui/Translations.h"
#include "uikit/CatalogRowText.h"

#include <QButtonGroup>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
// The status cell's tool-tip of a download: its rate and the time it still needs.
const char* const kProgressTip = "受信速度 %1、残り約 %2";

const char* const kArrivedOne = "ファイルを受信しました";
const char* const kArrivedMany = "%1個のファイルを受信しました";
const char* const kArrivedBody = "「%1」（送信元: %2）";

const char* const kFirstStartLine = "パーティ名とノード名を設定してください（「システム設定」）。";
const char* const kFirstStartHeadless =
    "パーティ名またはノード名が未設定です。作業フォルダの Pavo.ini の [SYSTEM] に PARTY と NAME "
    "を設定してから起動し直すか、コマンド「pavo set party=パーティ名 node=ノード名」で設定してくだ"
    "さい。";
} // namespace

CPavoDlg::CPavoDlg(PavoNode& node, bool headless)
    : TrayDialog(headless), m_node(node),
      m_skypeStatus(VX_SKYPECOM::stateText(VX_SKYPECOM::LINK_DETACHED))
{
    buildWindow();
}

CPavoDlg::~CPavoDlg()
{
    shutdown();
    m_node.setDisplay(nullptr);
    // The list is a child widget and outlives the settings it shows.
    rows().display(nullptr);
}

void CPavoDlg::buildWindow()
{
    setWindowIcon(ui::mainIcon());
    m_ui.build(*this);
    rows().display(&settings().connections());
    auto opsUi = std::make_unique<CatalogOpsUi>(*this, *m_ui.catalog, headless());
    opsUi->setNotice([this](const std::string& text) { notice(text); });
    m_opsUi = std::move(opsUi);
    m_fileCatalog =
        std::make_unique<CatalogFileOps::NodeCatalog>([this] { return m_node.catalog(); });
    m_fileOps = std::make_unique<CatalogFileOps>(*m_opsUi, *m_fileCatalog, settings());
    m_ui.catalog->setProgressTip([this](const CatalogRecord& r) { return progressTip(r); });
    connectControls();
    m_notifier = new ArrivalNotifier(this);
    m_onArrival = [this](const std::vector<CatalogRecord>& records) { notifyArrivals(records); };
    m_openFolder = [](const std::string& folder) { ArrivalNotifier::openFolder(folder); };
    connect(m_ui.catalog, &CCatalogListCtrl::openReceivedFolder, this,
            [this](std::optional<int> row) { m_openFolder(receivedFolderOf(row)); });
    connect(&tray(), &TrayIcon::exitRequested, this, &CPavoDlg::exitFromTray);
    connect(this, &TrayDialog::exitChosen, this, &CPavoDlg::exitFromTray);
}

void CPavoDlg::connectControls()
{
    connect(m_ui.selection, &QButtonGroup::idClicked, this, [this](int) { applySelection(); });
    connect(m_ui.systemSettings, &QPushButton::clicked, this, &CPavoDlg::onSystemProperties);
    connect(m_ui.addConnection, &QPushButton::clicked, this, &CPavoDlg::onAddConnection);
    connect(m_ui.changeConnection, &QPushButton::clicked, this, &CPavoDlg::onChangeConnection);
    connect(m_ui.deleteConnection, &QPushButton::clicked, this, &CPavoDlg::onDeleteConnection);
    connect(m_ui.catalogSync, &QPushButton::clicked, this, &CPavoDlg::onCatalogSync);
    connect(m_ui.nodeInfo, &QPushButton::clicked, this, &CPavoDlg::onNodeInformation);
    connect(m_ui.takeOut, &QPushButton::clicked, this, [this] { m_fileOps->takeOut(); });
    connect(m_ui.catalog, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex&) { m_fileOps->takeOut(); });
    connect(m_ui.deleteRegistration, &QPushButton::clicked, this,
            [this] { m_fileOps->deleteRegistration(); });
    connect(m_ui.catalog, &CCatalogListCtrl::filesDropped, this, [this](const QStringList& paths) {
        std::vector<std::string> list;
        for (const QString& p : paths)
            list.push_back(p.toStdString());
        m_fileOps->drop(list);
    });
}

void CPavoDlg::initialise()
{
    if (m_initialised)
        return;
    m_initialised = true;
    m_node.setDisplay(this);
    m_ui.status->start();
    connect(m_ui.status, &CMsg::keyAccepted, this, [this](const QString& node) {
        if (m_node.acceptNodeKey(node.toStdString()))
            m_ui.status->showMessage(ui::tr("ノード「%1」の新しい鍵を受け入れました").arg(node));
    });
    m_anyConnected = false;
    m_node.transfer().addListener(this);
    showWholeCatalog();
    onSkypeLinkChanged();
    applySelectionOf(settings().getConnectCount() == 0 ? kOffline : kOnline);
    tray().add(toolTipText());
    centreOnScreen();
    if (settings().getWindow() == 0)
        showWindow();
    else if (!tray().available())
        showMinimized(); // no notification area: the window must stay reachable
    else
        hideWindow();
    m_nodeInfo = std::make_unique<CNodeInfoDlg>(this);
    m_nodeInfo->setNotice([this](const std::string& text) { notice(text); });
    m_nodeInfo->initialise(m_node.nodeInfo(), &m_node.transfer(), settings(),
                           [this] { return m_node.catalog(); });
    m_nodeInfo->hide();
    m_ui.nodeInfo->setEnabled(true);
    m_ui.catalog->acceptFileDrops();
}

void CPavoDlg::showWholeCatalog()
{
    listReset();
    if (const CCatalog* catalog = m_node.catalog())
        for (int i = 0; i < catalog->count(); ++i)
            entryAdded(catalog->getRecord(i));
    listRefilled();
}

void CPavoDlg::shutdown()
{
    if (!m_initialised || m_shutDown)
        return;
    m_shutDown = true;
    m_nodeInfo.reset();
    m_node.shutdown();
    refreshControls();
    // Lets the peers see the connections close before the process goes.
    std::this_thread::sleep_for(std::chrono::milliseconds(plat::scaledMs(1000)));
    tray().remove();
}

void CPavoDlg::refreshControls()
{
    m_ui.partyName->setText(QString::fromStdString(settings().partyName()));
    m_ui.nodeName->setText(QString::fromStdString(settings().nodeName()));
    m_ui.skypeStatus->setText(QString::fromStdString(m_skypeStatus));
    (selection() == kOnline ? m_ui.online : m_ui.offline)->setChecked(true);
    setWindowTitle(QString::fromStdString(titleText()));
}

// The node name tells two nodes on one desktop apart, in the title and the tray tool-tip.
std::string CPavoDlg::titleText() const
{
    std::string title = "Pavo [" + settings().partyName() + "]";
    if (!settings().nodeName().empty())
        title += " - " + settings().nodeName();
    return title;
}

std::string CPavoDlg::toolTipText() const
{
    return TrayIcon::toolTipText(titleText(), m_anyConnected);
}

void CPavoDlg::applySelection()
{
    const int checked = m_ui.selection->checkedId();
    applySelectionOf(checked == kOnline ? kOnline : kOffline);
}

void CPavoDlg::applySelectionOf(int selection)
{
    const char* failed = PavoNode::refusalText(m_node.setOnline(selection == kOnline));
    if (failed)
        plat::showMessage(failed, plat::Icon::Warning);
    refreshControls();
}

void CPavoDlg::firstStartGuide()
{
    if (!settings().partyName().empty() && !settings().nodeName().empty())
        return;
    notice(kFirstStartLine);
    if (headless()) {
        plat::showMessage(kFirstStartHeadless, plat::Icon::Information);
        return;
    }
    SystemPropertiesFlow::firstStart(*this);
}

void CPavoDlg::notice(const std::string& text)
{
    m_ui.status->showMessage(QString::fromStdString(text));
}

void CPavoDlg::nodeKeysChanged(const std::vector<std::string>& nodes)
{
    // One at a time: the next is said at the next publishing step.
    m_ui.status->showKeyChange(QString::fromStdString(nodes.front()));
}

void CPavoDlg::postError(std::uintptr_t code, std::intptr_t selector)
{
    if (const auto text = CMsg::noticeText(code, selector, m_node.notices()))
        m_ui.status->showMessage(*text);
}

void CPavoDlg::exitFromTray()
{
    hideWindow();
    endSession();
}

void CPavoDlg::queryEndSession()
{
    // Nothing stops here: the log-off may yet be cancelled, and nothing would start the node
    // again. What it holds is saved now, in case the session then ends without a word; the
    // periodic work and the connections end with the session (endSession, then shutdown).
    settings().save();
}

void CPavoDlg::endSession()
{
    if (m_ended)
        return;
    m_ended = true;
    Q_EMIT ended();
}

void CPavoDlg::suspend()
{
    m_node.suspend();
    refreshControls();
}

void CPavoDlg::resume()
{
    m_node.resume();
    refreshControls();
}

void CPavoDlg::setConnectionButtons(bool enabled)
{
    for (QPushButton* b :
         {m_ui.systemSettings, m_ui.addConnection, m_ui.changeConnection, m_ui.deleteConnection})
        b->setEnabled(enabled);
}

void CPavoDlg::onSystemProperties()
{
    SystemPropertiesFlow::run(*this);
}

ConnectionCommands CPavoDlg::connectionCommands()
{
    return ConnectionCommands(
        settings().connections(), rows(), [this] { settings().save(); },
        ConnectionCommands::modalDialog(this, [this] { return transfer().skypeContacts(); }),
        [this](const std::string& oldName, const std::string& newName) {
            // Records still pending for the peer stay queued for it under its new name.
            m_node.renamePendingFile(ConnectionList::settingText(oldName),
                                     ConnectionList::settingText(newName));
        },
        transfer().messagingClientLinked() ? CDialogConnectMethod::kSkype
                                           : CDialogConnectMethod::kTcp);
}

void CPavoDlg::onAddConnection()
{
    connectionCommands().add();
}

void CPavoDlg::onChangeConnection()
{
    connectionCommands().change();
}

void CPavoDlg::onDeleteConnection()
{
    connectionCommands().remove();
}

void CPavoDlg::onCatalogSync()
{
    CatalogSyncFlow::run(*this);
}

void CPavoDlg::onNodeInformation()
{
    if (m_nodeInfo)
        m_nodeInfo->showCentred();
}

void CPavoDlg::entryAdded(const CatalogRecord& record)
{
    m_pending.push_back(CatalogListEvent{CatalogListEvent::Add, 0, record});
}

void CPavoDlg::entryChanged(int index, const CatalogRecord& record)
{
    m_pending.push_back(CatalogListEvent{CatalogListEvent::Update, index, record});
}

void CPavoDlg::listReset()
{
    m_pending.push_back(CatalogListEvent{CatalogListEvent::Clear, 0, CatalogRecord{}});
    m_refilling = true;
}

void CPavoDlg::listRefilled()
{
    m_refilling = false;
}

void CPavoDlg::onSkypeLinkChanged()
{
    // Without a link (not created yet, or already ended) the state reads as detached.
    if (const char* text = VX_SKYPECOM::stateText(transfer().messagingLinkState()))
        m_skypeStatus = text;
    refreshControls();
}

void CPavoDlg::onAnyConnected(int anyConnected)
{
    if (anyConnected == 1 && !m_anyConnected) {
        m_anyConnected = true;
        setConnectionButtons(false);
    } else if (anyConnected == 0 && m_anyConnected) {
        m_anyConnected = false;
        setConnectionButtons(true);
    }
}

void CPavoDlg::nodeListChanged(const std::vector<CNodeInfo>& nodes)
{
    if (m_nodeInfo)
        m_nodeInfo->showNodes(nodes);
}

void CPavoDlg::refreshLists()
{
    std::vector<bool> connected;
    const int count = settings().getConnectCount();
    for (int i = 0; i < count; ++i)
        connected.push_back(transfer().isConnected(i) == 1);
    rows().showStates(connected);
    if (m_refilling || m_ui.catalog->busy())
        return;
    // A received file has arrived when its row turns to complete; a row that already showed it
    // complete (a later change of the entry) is no new arrival, nor are management files.
    std::vector<CatalogRecord> arrived;
    std::vector<int> arrivedRows;
    const CCatalogListCtrl& list = *m_ui.catalog;
    for (const CatalogListEvent& e : m_pending) {
        if (e.kind != CatalogListEvent::Update || e.record.completeFlag() != 1 ||
            ui::isOwnRecord(e.record, settings().nodeName()) ||
            ui::isManagementFileName(e.record.fileNameUtf8()) || e.row < 0 ||
            e.row >= list.rowCount() ||
            std::find(arrivedRows.begin(), arrivedRows.end(), e.row) != arrivedRows.end())
            continue;
        const std::string status =
            ui::rowTexts(e.record, settings().nodeName())[ui::CatalogColumn::Status];
        if (list.cellText(e.row, ui::CatalogColumn::Status) == status)
            continue;
        arrived.push_back(e.record);
        arrivedRows.push_back(e.row);
    }
    m_ui.catalog->applyEventsInSlices(m_pending, settings().nodeName());
    if (!arrived.empty() && m_onArrival)
        m_onArrival(arrived);
}

std::string CPavoDlg::receivedFolderOf(std::optional<int> row)
{
    const std::string recv = settings().getRecvFolder();
    if (!row || *row < 0 || *row >= m_ui.catalog->rowCount())
        return recv;
    const std::string origin = m_ui.catalog->cellText(*row, ui::CatalogColumn::Sender);
    if (origin == settings().nodeName() || !plat::isSafeComponent(origin))
        return recv;
    return plat::joinPath(recv, origin);
}

void CPavoDlg::notifyArrivals(const std::vector<CatalogRecord>& records)
{
    std::string folder = settings().getRecvFolder();
    const std::string origin = records.front().originNodeUtf8();
    const bool oneOrigin = std::all_of(records.begin(), records.end(), [&](const CatalogRecord& r) {
        return r.originNodeUtf8() == origin;
    });
    if (oneOrigin && plat::isSafeComponent(origin))
        folder = plat::joinPath(folder, origin);
    QString body;
    for (std::size_t i = 0; i < records.size() && i < 3; ++i) {
        QString line = ui::tr(kArrivedBody)
                           .arg(QString::fromStdString(records[i].fileNameUtf8()),
                                QString::fromStdString(records[i].originNodeUtf8()));
        body += (i ? QStringLiteral("\n") : QString()) + line;
    }
    if (records.size() > 3)
        body += QStringLiteral("\n…");
    const QString summary = records.size() == 1
                                ? ui::tr(kArrivedOne)
                                : ui::tr(kArrivedMany).arg(qsizetype(records.size()));
    m_notifier->setTrayIcon(tray().icon());
    m_notifier->notify(summary, body, folder);
}

// A download's rate and time left, as the node measures them (the command line's "ls" shows the
// same figures); empty while it has no estimate.
std::string CPavoDlg::progressTip(const CatalogRecord& record) const
{
    const auto estimate = m_node.downloadRates().estimate(record);
    if (!estimate || !estimate->secondsLeft)
        return {};
    return ui::tr(kProgressTip)
        .arg(QString::fromStdString(CliFormat::rate(estimate->bytesPerSecond)),
             QString::fromStdString(CliFormat::duration(*estimate->secondsLeft)))
        .toStdString();
}

// The command line changed the on-line state or the settings: the title, the names, the switch
// and the tool-tip show them.
void CPavoDlg::stateChanged()
{
    refreshControls();
    refreshTray();
}

void CPavoDlg::refreshTray()
{
    tray().refresh(toolTipText());
}
