#include "ui/ConnectionCommands.h"

#include "app/ConnectionList.h"
#include "app/ConnectionRules.h"
#include "platform/Prompt.h"
#include "ui/CConnectListCtrl.h"

namespace {
const char* const kSelectToDelete = "削除する接続を選択してください。";
const char* const kDeleteQuestion = "接続を削除しますか？";
const char* const kSkype = "SKYPE";
const char* const kTcp = "TCP";

bool isTcp(const ConnectionCommands::Values& v)
{
    return v.method == CDialogConnectMethod::kTcp;
}

const char* methodOf(const ConnectionCommands::Values& v)
{
    return isTcp(v) ? kTcp : kSkype;
}

// The destination: the host text (with its port) or the Skype ID.
const std::string& address(const ConnectionCommands::Values& v)
{
    return isTcp(v) ? v.host : v.skypeId;
}
} // namespace

ConnectionCommands::ConnectionCommands(ConnectionList& connections, CConnectListCtrl& rows,
                                       std::function<void()> save, DialogRunner runner,
                                       Renamed renamed, int newMethod)
    : m_connections(connections), m_rows(rows), m_save(std::move(save)),
      m_runner(std::move(runner)), m_renamed(std::move(renamed)), m_newMethod(newMethod)
{
}

ConnectionCommands::DialogRunner
ConnectionCommands::modalDialog(QWidget* parent, CDialogConnectMethod::ContactSource contacts)
{
    return [parent, contacts](const Values& initial) -> std::optional<Values> {
        CDialogConnectMethod dialog(initial, contacts, parent);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.values();
    };
}

void ConnectionCommands::add()
{
    // An eleventh connection would be saved but never read back: refuse it before anything is
    // typed.
    if (m_connections.count() >= ConnectionList::kMaxConnections) {
        plat::showMessage(ConnectionRules::kTooMany, plat::Icon::Warning);
        return;
    }
    Values fresh;
    fresh.method = m_newMethod;
    const auto v = m_runner(fresh);
    if (!v)
        return;
    const int row = m_connections.append(ConnectionRecord{isTcp(*v) ? v->nodeName : v->skypeId,
                                                          methodOf(*v), address(*v), v->comment});
    m_rows.scrollToItem(m_rows.item(row, CConnectListCtrl::NodeName));
    m_save();
}

void ConnectionCommands::change()
{
    const auto row = m_rows.selectedRow();
    if (!row)
        return;
    const ConnectionRecord old = m_connections.at(*row);
    Values initial;
    initial.nodeName = old.nodeName;
    initial.comment = old.comment;
    if (old.connectMethod != kSkype) {
        initial.method = CDialogConnectMethod::kTcp;
        initial.host = old.address;
    } else {
        initial.method = CDialogConnectMethod::kSkype;
        initial.skypeId = old.address;
    }
    const auto v = m_runner(initial);
    if (!v)
        return;
    // A Skype connection keeps its node name: it is learnt from the peer's hello.
    const ConnectionRecord changed{isTcp(*v) ? v->nodeName : old.nodeName, methodOf(*v),
                                   address(*v), v->comment};
    m_connections.replace(*row, changed);
    renamed(old.nodeName, changed.nodeName);
    m_save();
}

void ConnectionCommands::renamed(const std::string& oldName, const std::string& newName)
{
    if (!m_renamed || oldName == newName)
        return;
    // Another connection of the old name still queues its records in that file.
    if (m_connections.hasNodeName(oldName))
        return;
    m_renamed(oldName, newName);
}

void ConnectionCommands::remove()
{
    const auto row = m_rows.selectedRow();
    if (!row) {
        plat::showMessage(kSelectToDelete, plat::Icon::Warning);
        return;
    }
    if (plat::ask(kDeleteQuestion, plat::Buttons::YesNo) != plat::Answer::Yes)
        return;
    m_connections.remove(*row);
    m_save();
}
