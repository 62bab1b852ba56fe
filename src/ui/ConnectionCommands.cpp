#include "ui/ConnectionCommands.h"

#include "platform/Prompt.h"
#include "ui/CConnectListCtrl.h"

namespace {
const char* const kTooMany = "接続先は10件までしか設定できません。";
const char* const kSelectToDelete = "削除する接続を選択してください。";
const char* const kDeleteQuestion = "接続を削除しますか？";
const char* const kSkype = "SKYPE";
const char* const kTcp = "TCP";

bool isTcp(const ConnectionCommands::Values& v)
{
    return v.method == CDialogConnectMethod::kTcp;
}

// The destination column: the host text (with its port) or the Skype ID.
const std::string& address(const ConnectionCommands::Values& v)
{
    return isTcp(v) ? v.host : v.skypeId;
}
} // namespace

ConnectionCommands::ConnectionCommands(CConnectListCtrl& rows, std::function<void()> save,
                                       DialogRunner runner, Renamed renamed, int newMethod)
    : m_rows(rows), m_save(std::move(save)), m_runner(std::move(runner)),
      m_renamed(std::move(renamed)), m_newMethod(newMethod)
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
    // An eleventh row would be saved but never read back: refuse it before anything is typed.
    if (m_rows.count() >= kMaxConnections) {
        plat::showMessage(kTooMany, plat::Icon::Warning);
        return;
    }
    Values fresh;
    fresh.method = m_newMethod;
    const auto v = m_runner(fresh);
    if (!v)
        return;
    const int row = m_rows.count();
    m_rows.insertConnection(row, isTcp(*v) ? v->nodeName : v->skypeId);
    m_rows.setCell(row, CConnectListCtrl::Method, isTcp(*v) ? kTcp : kSkype);
    m_rows.setCell(row, CConnectListCtrl::Address, address(*v));
    m_rows.setCell(row, CConnectListCtrl::Comment, v->comment);
    m_rows.scrollToItem(m_rows.item(row, CConnectListCtrl::NodeName));
    m_save();
}

void ConnectionCommands::change()
{
    const auto row = m_rows.selectedRow();
    if (!row)
        return;
    Values initial;
    initial.nodeName = m_rows.cell(*row, CConnectListCtrl::NodeName);
    initial.comment = m_rows.cell(*row, CConnectListCtrl::Comment);
    if (m_rows.cell(*row, CConnectListCtrl::Method) != kSkype) {
        initial.method = CDialogConnectMethod::kTcp;
        initial.host = m_rows.cell(*row, CConnectListCtrl::Address);
    } else {
        initial.method = CDialogConnectMethod::kSkype;
        initial.skypeId = m_rows.cell(*row, CConnectListCtrl::Address);
    }
    const auto v = m_runner(initial);
    if (!v)
        return;
    m_rows.setUpdatesEnabled(false);
    // A Skype row keeps its node name: it is learnt from the peer's hello.
    if (isTcp(*v))
        m_rows.setCell(*row, CConnectListCtrl::NodeName, v->nodeName);
    m_rows.setCell(*row, CConnectListCtrl::Method, isTcp(*v) ? kTcp : kSkype);
    m_rows.setCell(*row, CConnectListCtrl::Address, address(*v));
    m_rows.setCell(*row, CConnectListCtrl::Comment, v->comment);
    m_rows.setUpdatesEnabled(true);
    renamed(initial.nodeName, m_rows.cell(*row, CConnectListCtrl::NodeName));
    m_save();
}

void ConnectionCommands::renamed(const std::string& oldName, const std::string& newName)
{
    if (!m_renamed || oldName == newName)
        return;
    // Another connection of the old name still queues its records in that file.
    for (int i = 0; i < m_rows.count(); ++i)
        if (m_rows.cell(i, CConnectListCtrl::NodeName) == oldName)
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
    m_rows.removeConnection(*row);
    m_save();
}
