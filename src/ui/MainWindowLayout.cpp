#include "ui/MainWindowLayout.h"

#include "ui/CCatalogListCtrl.h"
#include "ui/CConnectListCtrl.h"
#include "ui/CMsg.h"

#include <QButtonGroup>
#include <QDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// Background of the labels that show values (party, node, Skype state, the drop hint).
const QColor kLabelBrush(255, 255, 180);

QLabel* valueLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setAutoFillBackground(true);
    QPalette p = label->palette();
    p.setColor(QPalette::Window, kLabelBrush);
    label->setPalette(p);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setMinimumWidth(150);
    return label;
}

QPushButton* button(const char* caption, QWidget* parent)
{
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    // Enter hides the main window; it must never click whatever button has the focus.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

QLabel* caption(const char* text, QWidget* parent)
{
    return new QLabel(QString::fromUtf8(text), parent);
}
} // namespace

void MainWindowLayout::build(QDialog& dialog)
{
    auto* comms = new QGroupBox(QStringLiteral("通信"), &dialog);
    online = button("OnLine", comms);
    offline = button("OFFLINE", comms);
    for (QPushButton* b : {online, offline})
        b->setCheckable(true);
    selection = new QButtonGroup(&dialog);
    selection->setExclusive(true);
    selection->addButton(online, kOnline);
    selection->addButton(offline, kOffline);
    partyName = valueLabel(comms);
    nodeName = valueLabel(comms);
    skypeStatus = valueLabel(comms);
    systemSettings = button("システム設定", comms);
    nodeInfo = button("ノード情報", comms);

    auto* commsGrid = new QGridLayout(comms);
    auto* switchRow = new QVBoxLayout;
    switchRow->addWidget(online);
    switchRow->addWidget(offline);
    commsGrid->addLayout(switchRow, 0, 0, 3, 1);
    commsGrid->addWidget(caption("パーティ名", comms), 0, 1);
    commsGrid->addWidget(partyName, 0, 2);
    commsGrid->addWidget(systemSettings, 0, 3);
    commsGrid->addWidget(caption("ノード名", comms), 1, 1);
    commsGrid->addWidget(nodeName, 1, 2);
    commsGrid->addWidget(caption("SKYPE連携", comms), 2, 1);
    commsGrid->addWidget(skypeStatus, 2, 2);
    commsGrid->addWidget(nodeInfo, 2, 3);
    commsGrid->setColumnStretch(2, 1);

    auto* nodes = new QGroupBox(QStringLiteral("接続ノード"), &dialog);
    connections = new CConnectListCtrl(nodes);
    addConnection = button("追加", nodes);
    changeConnection = button("変更", nodes);
    deleteConnection = button("削除", nodes);
    catalogSync = button("カタログ同期", nodes);
    auto* nodeButtons = new QVBoxLayout;
    for (QPushButton* b : {addConnection, changeConnection, deleteConnection, catalogSync})
        nodeButtons->addWidget(b);
    nodeButtons->addStretch(1);
    auto* nodesRow = new QHBoxLayout(nodes);
    nodesRow->addWidget(connections, 1);
    nodesRow->addLayout(nodeButtons);

    status = new CMsg(&dialog);
    status->setFrameShape(QFrame::Panel);
    status->setFrameShadow(QFrame::Sunken);
    status->setMinimumHeight(status->fontMetrics().height() + 6);

    auto* cache = new QGroupBox(QStringLiteral("カタログキャッシュ"), &dialog);
    dropHint = valueLabel(cache);
    dropHint->setText(QStringLiteral("リスト内にファイルをドロップするとファイルが登録されます。"));
    takeOut = button("ファイルを取り出す", cache);
    deleteRegistration = button("登録を削除", cache);
    catalog = new CCatalogListCtrl(cache);
    auto* cacheTop = new QHBoxLayout;
    cacheTop->addWidget(dropHint, 1);
    cacheTop->addWidget(takeOut);
    cacheTop->addWidget(deleteRegistration);
    auto* cacheColumn = new QVBoxLayout(cache);
    cacheColumn->addLayout(cacheTop);
    cacheColumn->addWidget(catalog, 1);

    auto* page = new QVBoxLayout(&dialog);
    page->addWidget(comms);
    page->addWidget(nodes, 2);
    page->addWidget(status);
    page->addWidget(cache, 3);

    // A fixed-size window, wide enough for the catalog list's columns.
    int columns = 0;
    for (int c = 0; c < catalog->columnCount(); ++c)
        columns += catalog->columnWidth(c);
    const int frame = 2 * (page->contentsMargins().left() + cacheColumn->contentsMargins().left());
    dialog.setFixedSize(QSize(std::max(720, columns + frame + 24), 600));
}
