#include "ui/StartWindow.h"

#include <QFormLayout>
#include <QLabel>

StartWindow::StartWindow(const QString& party, const QString& node, QWidget* parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Pavo"));
    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("パーティ名"), new QLabel(party, this));
    layout->addRow(QStringLiteral("ノード名"), new QLabel(node, this));
    setAttribute(Qt::WA_QuitOnClose, true);
}
