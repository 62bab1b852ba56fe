#include "ui/CEntryDlg.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CEntryDlg::CEntryDlg(QWidget* parent, int method) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("登録方法確認"));
    auto* prompt = new QLabel(
        QStringLiteral("ファイルがドロップされました。登録方法を選択してください。"), this);
    prompt->setWordWrap(true);
    auto* group = new QGroupBox(this);
    m_shortcut = new QRadioButton(QStringLiteral("ショートカットを作成する"), group);
    m_copy = new QRadioButton(QStringLiteral("ファイルをコピーする"), group);
    (method == kCopy ? m_copy : m_shortcut)->setChecked(true);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(m_shortcut);
    groupLayout->addWidget(m_copy);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(group);
    layout->addWidget(buttons);
}

int CEntryDlg::method() const
{
    return m_copy->isChecked() ? kCopy : kShortcut;
}
