#include "ui/CPavoDlg.h"

#include "app/CPostError.h"
#include "app/ShellUtil.h"
#include "app/WindowMessages.h"
#include "catalog/CCatalog.h"
#include "nodeui/CNodeInfoDlg.h"
#include "platform/Diag.h"
#include "platform/Files.h"
#include "platform/Prompt.h"
#include "skype/VX_SKYPECOM.h"
#include "tcp/CTcpA2AModel.h"
#include "ui/ArrivalNotifier.h"
#include "ui/CCatalogListCtrl.h"
#include "ui/CConnectListCtrl.h"
#include "ui/CMsg.h"
#include "ui/CatalogOpsUi.h"
#include "ui/CatalogRowText.h"
#include "ui/PavoDialogs.h"
#include "ui/PavoIcons.h"
#include "ui/Translations.h"
#include "watch/CFolderWatch.h"
#include "watch/SendFolderTrigger.h"

#include <QButtonGroup>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {
const char* const kNoNodeName = "ノード名が未設定です。ノード名を設定してください。";
const char* const kNoPartyName = "パーティ名が未設定です。パーティ名を設定してください。";
const char* const kNoConnection = "接続先の設定がありません。接続先を1つ以上設定してください。";

const char* const kArrivedOne = "ファイルを受信しました";
const char* const kArrivedMany = "%1個のファイルを受信しました";
const char* const kArrivedBody = "「%1」（送信元: %2）";

const char* const kFirstStartLine = "パーティ名とノード名を設定してください（「システム設定」）。";
const char* const kFirstStartHeadless =
    "パーティ名またはノード名が未設定です。作業フォルダの Pavo.ini の [SYSTEM] に PARTY と NAME "
    "を設定してから起動し直してください。";

// Without a link (not created yet, or already ended) the state reads as detached.
int linkAttachState()
{
    const VX_SKYPECOM* link = VX_SKYPECOM::existing();
    return link ? link->linkState() : VX_SKYPECOM::LINK_DETACHED;
}
} // namespace

CPavoDlg::CPavoDlg(bool headless, const NodeOptions& options)
    : CPavoDlg(plat::currentFolder(), headless, options)
{
}

CPavoDlg::CPavoDlg(const std::string& workingFolder, bool headless, const NodeOptions& options)
    : TrayDialog(headless), m_options(options), m_settings(workingFolder), m_transfer(options),
      m_skypeStatus(VX_SKYPECOM::stateText(VX_SKYPECOM::LINK_DETACHED)), m_periodic(*this),
      m_messages([this](const plat::WindowMessage& m) {
          if (m.msg == WM_POSTERROR)
              postError(m.wparam, m.lparam);
      })
{
    m_settings.setOnline(false);
    buildWindow();
}

CPavoDlg::~CPavoDlg()
{
    shutdown();
    // The list is a child widget and outlives the settings it shows.
    rows().display(nullptr);
}

void CPavoDlg::buildWindow()
{
    setWindowIcon(ui::mainIcon());
    m_ui.build(*this);
    rows().display(&m_settings.connections());
    auto opsUi = std::make_unique<CatalogOpsUi>(*this, *m_ui.catalog, headless());
    opsUi->setNotice([this](const std::string& text) { notice(text); });
    m_opsUi = std::move(opsUi);
    m_fileOps =
        std::make_unique<CatalogFileOps>(*m_opsUi, CatalogFileOps::processCatalog(), m_settings);
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
    CPostError::instance()->setWindow(m_messages.handle());
    m_ui.status->start();
    m_anyConnected = false;
    m_settings.load();
    select(m_settings.getConnectCount() == 0 ? kOffline : kOnline);
    refreshControls();
    m_transfer.addListener(this);
    m_transfer.initialise(m_messages.handle());
    CCatalog::createInstance(m_settings, !m_options.catalogCacheAtShutdown);
    m_folderWatch = std::make_unique<CFolderWatch>();
    m_folderWatch->setNotice([this](const std::string& text) {
        m_ui.status->queueMessage(QString::fromStdString(text));
    });
    applySelection();
    m_folderWatch->setFolder(m_settings.getSendFolder());
    m_folderWatch->load();
    // A file placed in the send folder is looked at half a second later, not at the next
    // periodic pass.
    m_sendTrigger = std::make_unique<SendFolderTrigger>(m_settings.getSendFolder(), [this] {
        if (m_folderWatch)
            m_folderWatch->scan();
    });
    tray().add(toolTipText());
    centreOnScreen();
    if (m_settings.getWindow() == 0)
        showWindow();
    else if (!tray().available())
        showMinimized(); // no notification area: the window must stay reachable
    else
        hideWindow();
    m_nodeInfo = std::make_unique<CNodeInfoDlg>(this);
    m_nodeInfo->setNotice([this](const std::string& text) { notice(text); });
    m_nodeInfo->initialise(&m_transfer, m_settings);
    m_nodeInfo->hide();
    m_ui.nodeInfo->setEnabled(true);
    m_periodic.start();
    m_ui.catalog->acceptFileDrops();
}

void CPavoDlg::shutdown()
{
    if (!m_initialised || m_shutDown)
        return;
    m_shutDown = true;
    select(kOffline);
    m_nodeInfo.reset();
    refreshControls();
    m_periodic.stop();
    disconnectAll(false);
    m_transfer.terminate();
    m_settings.save();
    m_sendTrigger.reset();
    m_folderWatch.reset();
    CCatalog::destroyInstance();
    // Lets the peers see the connections close before the process goes.
    std::this_thread::sleep_for(std::chrono::milliseconds(plat::scaledMs(1000)));
    tray().remove();
}

void CPavoDlg::readBoundValues()
{
    const int checked = m_ui.selection->checkedId();
    if (checked == kOnline || checked == kOffline)
        select(checked);
}

void CPavoDlg::select(int selection)
{
    m_selection = selection;
    m_settings.setOnline(selection == kOnline);
}

void CPavoDlg::refreshControls()
{
    m_ui.partyName->setText(QString::fromStdString(m_settings.partyName()));
    m_ui.nodeName->setText(QString::fromStdString(m_settings.nodeName()));
    m_ui.skypeStatus->setText(QString::fromStdString(m_skypeStatus));
    (m_selection == kOnline ? m_ui.online : m_ui.offline)->setChecked(true);
    setWindowTitle(QString::fromStdString(titleText()));
}

// The node name tells two nodes on one desktop apart, in the title and the tray tool-tip.
std::string CPavoDlg::titleText() const
{
    std::string title = "Pavo [" + m_settings.partyName() + "]";
    if (!m_settings.nodeName().empty())
        title += " - " + m_settings.nodeName();
    return title;
}

std::string CPavoDlg::toolTipText() const
{
    return TrayIcon::toolTipText(titleText(), m_anyConnected);
}

void CPavoDlg::applySelection()
{
    readBoundValues();
    if (m_selection == kOnline) {
        const char* failed = nullptr;
        if (m_settings.nodeName().empty())
            failed = kNoNodeName;
        else if (m_settings.partyName().empty())
            failed = kNoPartyName;
        else if (m_settings.getConnectCount() == 0)
            failed = kNoConnection;
        if (failed) {
            plat::showMessage(failed, plat::Icon::Warning);
            select(kOffline);
            refreshControls();
            // Falls through to closing the listener: a node shown off-line must not listen.
        } else if (!m_listening) {
            m_listening = true;
            if (!m_options.clientOnly)
                CTcpA2AModel::instance()->goOnline();
            return;
        } else {
            return;
        }
    }
    if (m_listening) {
        m_listening = false;
        CTcpA2AModel::instance()->goOffline();
    }
}

void CPavoDlg::firstStartGuide()
{
    if (!m_settings.partyName().empty() && !m_settings.nodeName().empty())
        return;
    notice(kFirstStartLine);
    if (headless()) {
        plat::showMessage(kFirstStartHeadless, plat::Icon::Information);
        return;
    }
    PavoDialogs::firstStart(*this);
}

void CPavoDlg::notice(const std::string& text)
{
    m_ui.status->showMessage(QString::fromStdString(text));
}

void CPavoDlg::postError(std::uintptr_t code, std::intptr_t selector)
{
    if (const auto text = CMsg::noticeText(code, selector))
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
    m_settings.save();
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
    if (m_suspended)
        return;
    m_savedSelection = m_selection;
    m_suspended = true;
    select(kOffline);
    refreshControls();
    disconnectAll(true);
}

void CPavoDlg::resume()
{
    if (!m_suspended)
        return;
    select(m_savedSelection);
    m_suspended = false;
    refreshControls();
}

void CPavoDlg::disconnectAll(bool onlyConnected)
{
    const int count = m_settings.getConnectCount();
    for (int i = 0; i < count; ++i)
        if (!onlyConnected || m_transfer.isConnected(i) == 1)
            m_transfer.disconnectPeer(i);
}

void CPavoDlg::setConnectionButtons(bool enabled)
{
    for (QPushButton* b :
         {m_ui.systemSettings, m_ui.addConnection, m_ui.changeConnection, m_ui.deleteConnection})
        b->setEnabled(enabled);
}

void CPavoDlg::onSystemProperties()
{
    PavoDialogs::systemProperties(*this);
}

void CPavoDlg::onAddConnection()
{
    PavoDialogs::addConnection(*this);
}

void CPavoDlg::onChangeConnection()
{
    PavoDialogs::changeConnection(*this);
}

void CPavoDlg::onDeleteConnection()
{
    PavoDialogs::deleteConnection(*this);
}

void CPavoDlg::onCatalogSync()
{
    PavoDialogs::catalogSync(*this);
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
    if (const char* text = VX_SKYPECOM::stateText(linkAttachState()))
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

void CPavoDlg::refreshLists()
{
    std::vector<bool> connected;
    const int count = m_settings.getConnectCount();
    for (int i = 0; i < count; ++i)
        connected.push_back(m_transfer.isConnected(i) == 1);
    rows().showStates(connected);
    if (m_refilling)
        return;
    // A received file has arrived when its row turns to complete; a row that already showed it
    // complete (a later change of the entry) is no new arrival, nor are management files.
    std::vector<CatalogRecord> arrived;
    std::vector<int> arrivedRows;
    const CCatalogListCtrl& list = *m_ui.catalog;
    for (const CatalogListEvent& e : m_pending) {
        if (e.kind != CatalogListEvent::Update || e.record.completeFlag() != 1 ||
            ui::isOwnRecord(e.record, m_settings.nodeName()) ||
            ui::isManagementFileName(e.record.fileNameUtf8()) || e.row < 0 ||
            e.row >= list.rowCount() ||
            std::find(arrivedRows.begin(), arrivedRows.end(), e.row) != arrivedRows.end())
            continue;
        const std::string status =
            ui::rowTexts(e.record, m_settings.nodeName())[ui::CatalogColumn::Status];
        if (list.cellText(e.row, ui::CatalogColumn::Status) == status)
            continue;
        arrived.push_back(e.record);
        arrivedRows.push_back(e.row);
    }
    m_ui.catalog->applyEvents(m_pending, m_settings.nodeName());
    m_pending.clear();
    if (!arrived.empty() && m_onArrival)
        m_onArrival(arrived);
}

std::string CPavoDlg::receivedFolderOf(std::optional<int> row)
{
    const std::string recv = m_settings.getRecvFolder();
    if (!row || *row < 0 || *row >= m_ui.catalog->rowCount())
        return recv;
    const std::string origin = m_ui.catalog->cellText(*row, ui::CatalogColumn::Sender);
    if (origin == m_settings.nodeName() || !plat::isSafeComponent(origin))
        return recv;
    return plat::joinPath(recv, origin);
}

void CPavoDlg::notifyArrivals(const std::vector<CatalogRecord>& records)
{
    std::string folder = m_settings.getRecvFolder();
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

void CPavoDlg::scanSendFolder()
{
    if (m_folderWatch)
        m_folderWatch->scan();
}

void CPavoDlg::maintainCatalog()
{
    CCatalog::instance()->maintainHourly();
}

void CPavoDlg::refreshTray()
{
    tray().refresh(toolTipText());
}

void CPavoDlg::purgeCatalog()
{
    CCatalog::instance()->purge();
}
