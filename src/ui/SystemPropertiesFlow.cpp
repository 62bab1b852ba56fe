#include "ui/SystemPropertiesFlow.h"

#include "app/CMultiCheck.h"
#include "app/PartyKeyMaker.h"
#include "platform/Prompt.h"
#include "ui/CPavoDlg.h"
#include "ui/MainWindowLayout.h"

#include <QGuiApplication>
#include <QPushButton>

#include <openssl/crypto.h>

namespace {
const char* const kFirstStartIntro =
    "はじめに、参加するパーティの名前とこのノードの名前を設定してください。";
const char* const kAddConnectionHint =
    "次に、「接続ノード」の「追加」で接続先を1つ以上設定してください。"
    "設定が済んだら「OnLine」を押すと接続を始めます。";
const char* const kKeyNotDerived = "パーティ鍵を作れませんでした。パーティ鍵は変更されていません。";
const char* const kKeyNotStored =
    "パーティ鍵を保存できませんでした。パーティ鍵は変更されていません。";
} // namespace

void SystemPropertiesFlow::firstStart(CPavoDlg& window)
{
    if (!run(window, kFirstStartIntro) || window.settings().getConnectCount() > 0)
        return;
    plat::showMessage(kAddConnectionHint, plat::Icon::Information);
    window.controls().addConnection->setFocus();
}

bool SystemPropertiesFlow::run(CPavoDlg& window, const std::string& introduction)
{
    NodeSettings& settings = window.settings();
    CSystemPropatyDlg::Values values;
    values.ownSkypeId = window.transfer().ownSkypeId();
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
    apply(window, dialog.values());
    return true;
}

void SystemPropertiesFlow::apply(CPavoDlg& window, const CSystemPropatyDlg::Values& values)
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

void SystemPropertiesFlow::applyPartyKey(CPavoDlg& window, const CSystemPropatyDlg::Values& values)
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
