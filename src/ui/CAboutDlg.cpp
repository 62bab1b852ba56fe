#include "ui/CAboutDlg.h"

#include "app/ShellUtil.h"
#include "ui/PavoIcons.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Pavoのﾊﾞｰｼﾞｮﾝ情報"));
    auto* icon = new QLabel(this);
    icon->setPixmap(ui::mainIcon().pixmap(32, 32));
    auto* version = new QLabel(QString::fromStdString(versionLine(getVersionText())), this);
    version->setObjectName(QStringLiteral("versionLine"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(version, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(350, 120)));
}

std::string CAboutDlg::versionLine(const std::string& versionText)
{
    std::string text = versionText;
    std::replace(text.begin(), text.end(), '.', '-');
    std::replace(text.begin(), text.end(), ';', '.');
    return "Pavo " + text;
}
