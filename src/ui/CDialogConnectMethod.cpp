#include "ui/CDialogConnectMethod.h"

#include "app/CPropatyHotLine.h"
#include "app/ConnectionRules.h"
#include "platform/Prompt.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const char* const kPortWarning =
    "接続ポートを変更します。接続先の設定を確認して同じポート番号を設定してください";

// Port 0 is refused: an address with it dials the default port instead (addressPort), so the
// row would not do what the dialog showed.
constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string text(const QLineEdit* edit)
{
    return edit->text().toStdString();
}

bool startsWithNoCase(const QString& item, const QString& prefix)
{
    return item.startsWith(prefix, Qt::CaseInsensitive);
}
} // namespace

CDialogConnectMethod::CDialogConnectMethod(const Values& initial, ContactSource contacts,
                                           QWidget* parent)
    : QDialog(parent), m_values(initial), m_contacts(std::move(contacts))
{
    build();
    initialise();
}

void CDialogConnectMethod::build()
{
    setWindowTitle(QStringLiteral("接続先設定ダイアログ"));

    auto* methodGroup = new QGroupBox(QStringLiteral("接続方法"), this);
    m_ui.skype = new QRadioButton(QStringLiteral("SKYPE"), methodGroup);
    m_ui.tcp = new QRadioButton(QStringLiteral("TCP"), methodGroup);
    m_method = new QButtonGroup(this);
    m_method->addButton(m_ui.skype, kSkype);
    m_method->addButton(m_ui.tcp, kTcp);
    auto* methodLayout = new QHBoxLayout(methodGroup);
    methodLayout->addWidget(m_ui.skype);
    methodLayout->addWidget(m_ui.tcp);

    m_ui.skypeGroup =
        new QGroupBox(QStringLiteral("SKYPE ID設定（以下のリストから選択してください）"), this);
    m_ui.skypeIds = new QComboBox(m_ui.skypeGroup);
    m_ui.skypeIds->setEditable(false);
    (new QVBoxLayout(m_ui.skypeGroup))->addWidget(m_ui.skypeIds);

    m_ui.tcpGroup =
        new QGroupBox(QStringLiteral("TCP設定(ホスト名またはIPアドレスを設定します）"), this);
    m_ui.host = new QLineEdit(m_ui.tcpGroup);
    m_ui.portFlag = new QCheckBox(QStringLiteral("ポート番号設定を行う"), m_ui.tcpGroup);
    m_ui.port = new QSpinBox(m_ui.tcpGroup);
    auto* tcpLayout = new QVBoxLayout(m_ui.tcpGroup);
    tcpLayout->addWidget(m_ui.host);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(m_ui.portFlag);
    portRow->addWidget(m_ui.port);
    tcpLayout->addLayout(portRow);

    auto* nodeGroup = new QGroupBox(
        QStringLiteral("接続先ノード名称（TCP接続時のみ:全角15文字・半角31文字以内）"), this);
    m_ui.nodeName = new QLineEdit(nodeGroup);
    (new QVBoxLayout(nodeGroup))->addWidget(m_ui.nodeName);

    auto* commentGroup = new QGroupBox(QStringLiteral("コメント："), this);
    m_ui.comment = new QLineEdit(commentGroup);
    (new QVBoxLayout(commentGroup))->addWidget(m_ui.comment);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CDialogConnectMethod::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    for (QWidget* w : {static_cast<QWidget*>(methodGroup), static_cast<QWidget*>(m_ui.skypeGroup),
                       static_cast<QWidget*>(m_ui.tcpGroup), static_cast<QWidget*>(nodeGroup),
                       static_cast<QWidget*>(commentGroup), static_cast<QWidget*>(buttons)})
        layout->addWidget(w);

    connect(m_method, &QButtonGroup::idClicked, this, [this](int) { onMethodClicked(); });
    connect(m_ui.portFlag, &QCheckBox::clicked, this, [this](bool) { onPortFlagClicked(); });
}

void CDialogConnectMethod::initialise()
{
    m_ui.port->setRange(kMinPort, kMaxPort);
    const bool hasPort = !m_values.host.empty() && m_values.host.find('/') != std::string::npos;
    if (hasPort) {
        // The port shown is the one the row dials, also for a text after "/" that is no port.
        m_ui.port->setValue(addressPort(m_values.host));
        m_values.host = addressHost(m_values.host);
    } else {
        m_ui.port->setValue(kDefaultTcpPort);
    }
    m_ui.portFlag->setChecked(hasPort);
    showValues();
    enableForMethod();
}

int CDialogConnectMethod::port() const
{
    return m_ui.port->value();
}

bool CDialogConnectMethod::portFlag() const
{
    return m_ui.portFlag->isChecked();
}

void CDialogConnectMethod::readValues()
{
    m_values.method = m_ui.tcp->isChecked() ? kTcp : kSkype;
    m_values.skypeId = m_ui.skypeIds->currentText().toStdString();
    // The settings file keeps values without their outer blanks; trimming here shows that.
    m_values.host = m_ui.host->text().trimmed().toStdString();
    m_values.nodeName = text(m_ui.nodeName);
    m_values.comment = m_ui.comment->text().trimmed().toStdString();
}

void CDialogConnectMethod::showValues()
{
    (m_values.method == kTcp ? m_ui.tcp : m_ui.skype)->setChecked(true);
    m_ui.host->setText(qs(m_values.host));
    m_ui.nodeName->setText(qs(m_values.nodeName));
    m_ui.comment->setText(qs(m_values.comment));
    const int index = m_ui.skypeIds->findText(qs(m_values.skypeId), Qt::MatchFixedString);
    if (index >= 0)
        m_ui.skypeIds->setCurrentIndex(index);
}

void CDialogConnectMethod::fillContacts()
{
    std::vector<std::string> ids = m_contacts ? m_contacts() : std::vector<std::string>{};
    ids.erase(std::remove(ids.begin(), ids.end(), std::string()), ids.end());
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    if (ids.empty() && !m_values.skypeId.empty())
        ids.push_back(m_values.skypeId);

    m_ui.skypeIds->clear();
    int selected = -1;
    const QString current = qs(m_values.skypeId);
    for (const std::string& id : ids) {
        const QString item = qs(id);
        if (selected < 0 && startsWithNoCase(item, current))
            selected = m_ui.skypeIds->count();
        m_ui.skypeIds->addItem(item);
    }
    m_ui.skypeIds->setCurrentIndex(selected);
}

void CDialogConnectMethod::enableForMethod()
{
    const bool tcp = m_values.method == kTcp;
    m_ui.skypeGroup->setEnabled(!tcp);
    m_ui.skypeIds->setEnabled(!tcp);
    m_ui.tcpGroup->setEnabled(tcp);
    m_ui.host->setEnabled(tcp);
    m_ui.portFlag->setEnabled(tcp);
    m_ui.nodeName->setEnabled(tcp);
    if (!tcp)
        fillContacts();
    m_ui.port->setEnabled(tcp && m_ui.portFlag->isChecked());
}

void CDialogConnectMethod::onMethodClicked()
{
    readValues();
    enableForMethod();
}

void CDialogConnectMethod::onPortFlagClicked()
{
    readValues();
    if (!m_ui.portFlag->isChecked()) {
        m_ui.port->setValue(kDefaultTcpPort);
    } else if (plat::ask(kPortWarning, plat::Buttons::OkCancel, plat::Icon::Warning) !=
               plat::Answer::Ok) {
        m_ui.portFlag->setChecked(false);
        showValues();
    }
    m_ui.port->setEnabled(m_values.method == kTcp && m_ui.portFlag->isChecked());
}

std::string CDialogConnectMethod::check(QWidget** focus) const
{
    const Values& v = m_values;
    *focus = nullptr;
    if (QString::fromStdString(v.host).size() > kMaxHostLength) {
        *focus = m_ui.host;
        return std::to_string(kMaxHostLength) + " 文字以内で入力してください。";
    }
    const std::string refused =
        ConnectionRules::check(v.method == kTcp, v.host, v.nodeName, v.skypeId);
    // The node name's own checks put the focus on it.
    if (!refused.empty() && v.method == kTcp && !v.host.empty() && !v.nodeName.empty())
        *focus = m_ui.nodeName;
    return refused;
}

void CDialogConnectMethod::accept()
{
    readValues();
    QWidget* focus = nullptr;
    const std::string failed = check(&focus);
    if (!failed.empty()) {
        plat::showMessage(failed, plat::Icon::Warning);
        if (focus)
            focus->setFocus();
        return;
    }
    if (m_values.method == kTcp && m_ui.portFlag->isChecked())
        m_values.host += "/" + std::to_string(m_ui.port->value());
    QDialog::accept();
}
