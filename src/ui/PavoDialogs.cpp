#include "ui/PavoDialogs.h"

#include "app/CMultiCheck.h"
#include "app/PartyKeyMaker.h"
#include "catalog/CCatalog.h"
#include "platform/Prompt.h"
#include "skype/VX_SKYPECOM.h"
#include "skype/VX_SKYPEMODEL.h"
#include "transfer/CSkypeColumn.h"
#include "ui/CConnectListCtrl.h"
#include "ui/CPavoDlg.h"
#include "ui/CSyncDlg.h"
#include "ui/ConnectionCommands.h"
#include "ui/MainWindowLayout.h"
#include "ui/Translations.h"

#include <QPushButton>

#include <QGuiApplication>

#include <openssl/crypto.h>

namespace {
const char* const kNotConnected = "選択したノードは接続していません";
const char* const kFirstStartIntro =
    "はじめに、参加するパーティの名前とこのノードの名前を設定してください。";
const char* const kAddConnectionHint =
    "次に、「接続ノード」の「追加」で接続先を1つ以上設定してください。"
    "設定が済んだら「OnLine」を押すと接続を始めます。";
const char* const kSyncRequested = "「%s」にカタログ同期を要求しました。";
const char* const kKeyNotDerived = "パーティ鍵を作れませんでした。パーティ鍵は変更されていません。";
const char* const kKeyNotStored =
    "パーティ鍵を保存できませんでした。パーティ鍵は変更されていません。";

// The user model exists only while the messaging-client side of the transfer coordinator runs.
const VX_SKYPEMODEL* skypeModel(CPavoDlg& window)
{
    return window.transfer().skype().userModel();
}

ConnectionCommands commandsOf(CPavoDlg& window)
{
    return ConnectionCommands(
        window.settings().connections(), window.rows(), [&window] { window.settings().save(); },
        ConnectionCommands::modalDialog(&window,
                                        [&window] { return PavoDialogs::skypeContacts(window); }),
        [&window](const std::string& oldName, const std::string& newName) {
            // Records still pending for the peer stay queued for it under its new name.
            if (CCatalog* catalog = window.node().catalog())
                catalog->renamePendingFile(ConnectionList::settingText(oldName),
                                           ConnectionList::settingText(newName));
        },
        PavoDialogs::messagingClientLinked(window) ? CDialogConnectMethod::kSkype
                                                   : CDialogConnectMethod::kTcp);
}

std::string format(const char* pattern, const std::string& value)
{
    std::string text = ui::tr(pattern).toStdString();
    text.replace(text.find("%s"), 2, value);
    return text;
}
} // namespace

std::string PavoDialogs::ownSkypeId(CPavoDlg& window)
{
    const VX_SKYPEMODEL* model = skypeModel(window);
    return model ? model->ownSkypeId() : std::string();
}

std::vector<std::string> PavoDialogs::skypeContacts(CPavoDlg& window)
{
    std::vector<std::string> ids;
    if (const VX_SKYPEMODEL* model = skypeModel(window))
        for (const SkypeContact& contact : model->contacts())
            ids.push_back(contact.name);
    return ids;
}

bool PavoDialogs::messagingClientLinked(CPavoDlg& window)
{
    const VX_SKYPECOM* link = window.transfer().skype().link();
    return link && link->linkState() == VX_SKYPECOM::LINK_ATTACHED;
}

void PavoDialogs::firstStart(CPavoDlg& window)
{
    if (!systemProperties(window, kFirstStartIntro) || window.settings().getConnectCount() > 0)
        return;
    plat::showMessage(kAddConnectionHint, plat::Icon::Information);
    window.controls().addConnection->setFocus();
}

bool PavoDialogs::systemProperties(CPavoDlg& window, const std::string& introduction)
{
    NodeSettings& settings = window.settings();
    CSystemPropatyDlg::Values values;
    values.ownSkypeId = ownSkypeId(window);
    values.nodeName = settings.getNodeName();
    values.partyName = settings.getPartyName();
    values.limitDay = settings.getLimitDay();
    values.sendFolder = settings.getSendFolder();
    values.recvFolder = settings.getRecvFolder();
    values.window = settings.getWindow() == 0 ? CSystemPropatyDlg::kWindowOpen
                                              : CSystemPropatyDlg::kWindowClosed;
    values.listenPort = settings.getListenPort();
    values.partyKeySet = settings.partyKey().state != PartyKeyStore::State::None;
    values.online = window.selection() == CPavoDlg::kOnline;
    CSystemPropatyDlg dialog(values, CMultiCheck::instance(), &window);
    dialog.setIntroduction(introduction);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    applySystemProperties(window, dialog.values());
    return true;
}

void PavoDialogs::applySystemProperties(CPavoDlg& window, const CSystemPropatyDlg::Values& values)
{
    NodeSettings& settings = window.settings();
    settings.setNodeName(values.nodeName);
    if (values.partyName != settings.getPartyName()) {
        window.transfer().changePartyName(values.partyName);
        settings.setPartyName(values.partyName);
    }
    settings.setWindow(values.window);
    settings.setLimitDay(values.limitDay);
    settings.setListenPort(values.listenPort);
    // The title and the tool-tip name the node too, so a new node name rebuilds them as well.
    window.refreshControls();
    window.tray().refresh(window.toolTipText());
    settings.save();
    applyPartyKey(window, values);
}

void PavoDialogs::applyPartyKey(CPavoDlg& window, const CSystemPropatyDlg::Values& values)
{
    using KeyChange = CSystemPropatyDlg::Values::KeyChange;
    if (values.keyChange == KeyChange::Keep)
        return;
    NodeSettings& settings = window.settings();
    const PartyKeyStore store(settings.iniFileName(), settings.getCurrentFolder());
    PartyKeyMaker::Outcome out;
    if (values.keyChange == KeyChange::Set) {
        // The maker wipes this copy; the dialog wipes its own.
        std::string passphrase = values.passphrase;
        // The derivation is slow on purpose: a few tenths of a second.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        out = PartyKeyMaker::set(passphrase, values.partyName, store,
                                 {values.partyName, values.nodeName});
        QGuiApplication::restoreOverrideCursor();
    } else {
        out = PartyKeyMaker::remove(values.partyName, store);
    }
    if (out.failure == PartyKeyMaker::Failure::NotStored) {
        plat::showMessage(std::string(kKeyNotStored) + "\n" + out.detail, plat::Icon::Error);
        return;
    }
    if (!out.ok()) {
        plat::showMessage(kKeyNotDerived, plat::Icon::Error);
        return;
    }
    settings.setPartyKey(out.applied);
    if (out.applied.key)
        OPENSSL_cleanse(out.applied.key->data(), out.applied.key->size());
}

void PavoDialogs::addConnection(CPavoDlg& window)
{
    commandsOf(window).add();
}

void PavoDialogs::changeConnection(CPavoDlg& window)
{
    commandsOf(window).change();
}

void PavoDialogs::deleteConnection(CPavoDlg& window)
{
    commandsOf(window).remove();
}

void PavoDialogs::catalogSync(CPavoDlg& window)
{
    const auto row = window.rows().selectedRow();
    if (!row)
        return;
    if (window.transfer().isConnected(*row) != 1) {
        plat::showMessage(kNotConnected, plat::Icon::Warning);
        return;
    }
    CSyncDlg dialog(&window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    window.transfer().requestHello(*row, dialog.mode(), dialog.date());
    window.notice(format(kSyncRequested, window.settings().getConnectNodeName(*row)));
}
