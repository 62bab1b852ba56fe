#include "nodeui/CNodePropatyDlg.h"

#include "node/CNodeInfo.h"
#include "platform/Cp932.h"
#include "platform/Prompt.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <vector>

namespace {
const char* const kNotCp932 = "使用できない文字が含まれています。";

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

// The first maxBytes CP932 bytes of a text, cut at a whole character, back in UTF-8.
std::string cutCp932(const std::string& cp932, std::size_t maxBytes)
{
    std::vector<std::uint8_t> field(maxBytes + 1, 0);
    plat::copyCp932Field(field.data(), maxBytes, cp932);
    return plat::fieldToUtf8(field.data(), field.size());
}
} // namespace

CNodePropatyDlg::CNodePropatyDlg(CNodeInfo* target, std::string autoSkypeId, QWidget* parent)
    : QDialog(parent), m_target(target), m_autoSkypeId(std::move(autoSkypeId))
{
    buildControls();
    if (m_target) {
        m_mail->setText(qs(m_target->mailAddress));
        m_skypeId->setText(qs(m_target->skypeId));
        m_information->setPlainText(qs(m_target->information));
    }
    m_auto->setEnabled(!m_autoSkypeId.empty());
}

void CNodePropatyDlg::buildControls()
{
    setWindowTitle(QStringLiteral("ノード情報設定"));
    m_skypeId = new QLineEdit(this);
    m_skypeId->setObjectName(QStringLiteral("1060"));
    m_mail = new QLineEdit(this);
    m_mail->setObjectName(QStringLiteral("1061"));
    m_auto = new QPushButton(QStringLiteral("自動取得"), this);
    m_auto->setObjectName(QStringLiteral("1067"));
    m_information = new QPlainTextEdit(this);
    m_information->setObjectName(QStringLiteral("1078"));
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("SKYPEID"), this), 0, 0);
    grid->addWidget(m_skypeId, 0, 1);
    grid->addWidget(m_auto, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("メールアドレス"), this), 1, 0);
    grid->addWidget(m_mail, 1, 1, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(new QLabel(QStringLiteral("Infomation"), this));
    layout->addWidget(m_information, 1);
    layout->addWidget(buttons);

    connect(m_auto, &QPushButton::clicked, this, &CNodePropatyDlg::fetchSkypeId);
    connect(buttons, &QDialogButtonBox::accepted, this, &CNodePropatyDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CNodePropatyDlg::reject);
}

void CNodePropatyDlg::fetchSkypeId()
{
    m_skypeId->setText(qs(m_autoSkypeId));
}

void CNodePropatyDlg::accept()
{
    const std::string skypeId = m_skypeId->text().toStdString();
    const std::string mail = m_mail->text().toStdString();
    const auto information = plat::toCp932(m_information->toPlainText().toStdString());
    if (!plat::toCp932(skypeId) || !plat::toCp932(mail) || !information) {
        plat::showMessage(kNotCp932, plat::Icon::Warning);
        return;
    }
    if (m_target) {
        m_target->mailAddress = mail;
        m_target->skypeId = skypeId;
        m_target->information = cutCp932(*information, CNodeInfo::kMaxEnteredInformation);
    }
    QDialog::accept();
}
