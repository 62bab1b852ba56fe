#include "nodeui/CNodeDetailDlg.h"

#include "platform/Prompt.h"
#include "ui/Translations.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const char* const kMailerFailed = "メーラの呼び出しができません.メールの設定を確認してください.";
const char* const kNoAddress = "メイルアドレスは設定されていません";

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

void fillList(QListWidget& list, const std::vector<std::string>& names)
{
    list.clear();
    for (const std::string& name : names)
        list.addItem(qs(name));
}
} // namespace

CNodeDetailDlg::CNodeDetailDlg(QWidget* parent) : QWidget(parent)
{
    buildControls();
    m_openUrl = [](const std::string& url) {
        return QDesktopServices::openUrl(QUrl(qs(url), QUrl::StrictMode));
    };
}

void CNodeDetailDlg::buildControls()
{
    auto* contact = new QGroupBox(QStringLiteral("コンタクト情報"), this);
    m_skypeId = new QLabel(contact);
    m_skypeId->setObjectName(QStringLiteral("1069"));
    m_mail = new QLabel(contact);
    m_mail->setObjectName(QStringLiteral("1070"));
    m_key = new QLabel(contact);
    m_key->setObjectName(QStringLiteral("key"));
    m_key->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QLabel* label : {m_skypeId, m_mail, m_key})
        label->setTextFormat(Qt::PlainText); // a peer's text is never taken as markup
    m_mailTo = new QPushButton(QStringLiteral("Mail-To"), contact);
    m_mailTo->setObjectName(QStringLiteral("1064"));
    auto* grid = new QGridLayout(contact);
    grid->addWidget(new QLabel(QStringLiteral("SkypeID"), contact), 0, 0);
    grid->addWidget(m_skypeId, 0, 1);
    grid->addWidget(m_mailTo, 1, 0);
    grid->addWidget(m_mail, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("鍵の指紋"), contact), 2, 0);
    grid->addWidget(m_key, 2, 1);
    grid->setColumnStretch(1, 1);

    m_neighbours = new QListWidget(this);
    m_neighbours->setObjectName(QStringLiteral("1065"));
    m_route = new QListWidget(this);
    m_route->setObjectName(QStringLiteral("1066"));
    m_information = new QPlainTextEdit(this);
    m_information->setObjectName(QStringLiteral("1078"));
    m_information->setReadOnly(true);

    auto* lists = new QGridLayout;
    lists->addWidget(new QLabel(QStringLiteral("隣接ノード"), this), 0, 0);
    lists->addWidget(new QLabel(QStringLiteral("経路情報"), this), 0, 1);
    lists->addWidget(m_neighbours, 1, 0);
    lists->addWidget(m_route, 1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(contact);
    layout->addLayout(lists);
    layout->addWidget(new QLabel(QStringLiteral("Infomation"), this));
    layout->addWidget(m_information, 1);

    connect(m_mailTo, &QPushButton::clicked, this, &CNodeDetailDlg::mailTo);
}

void CNodeDetailDlg::showInfo(const CNodeInfo& info)
{
    m_info = info;
    m_hasNode = true;
    refresh();
}

void CNodeDetailDlg::refresh()
{
    m_skypeId->setText(qs(m_info.skypeId));
    m_mail->setText(qs(m_info.mailAddress));
    QString key = ui::tr("なし");
    if (m_info.publicKey)
        key = qs(plat::NodeKey::fingerprint(*m_info.publicKey));
    if (m_info.keyState == CNodeInfo::KEY_CHANGED)
        key += QStringLiteral(" ") + ui::tr("(変更されました・未承認)");
    m_key->setText(key);
    fillList(*m_neighbours, m_info.neighbours);
    fillList(*m_route, m_info.route);
    m_information->setPlainText(qs(m_info.information));
}

std::string CNodeDetailDlg::mailtoUrl(const std::string& address)
{
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(qs(address), QUrl::DecodedMode);
    return url.toString(QUrl::FullyEncoded).toStdString();
}

void CNodeDetailDlg::mailTo()
{
    if (m_info.mailAddress.empty()) {
        plat::showMessage(kNoAddress);
        return;
    }
    if (!m_openUrl(mailtoUrl(m_info.mailAddress)))
        plat::showMessage(kMailerFailed);
}
