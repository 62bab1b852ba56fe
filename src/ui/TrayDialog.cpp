#include "ui/TrayDialog.h"

#include "platform/Prompt.h"
#include "ui/CAboutDlg.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

namespace {
const char* const kAboutItem = "Pavo のﾊﾞｰｼﾞｮﾝ情報(&A)...";
const char* const kExitItem = "終了";
const char* const kEndQuestion =
    "通知領域がないため、ウィンドウを閉じるとノードを終了します。ノードを終了しますか？\r\n"
    "「いいえ」を選ぶとウィンドウを最小化し、ノードは動作を続けます。";
} // namespace

TrayDialog::TrayDialog(bool headless)
    : QDialog(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_headless(headless)
{
    connect(&m_tray, &TrayIcon::openRequested, this, &TrayDialog::openFromTray);
}

void TrayDialog::openFromTray()
{
    showWindow();
}

void TrayDialog::showWindow()
{
    m_visible = true;
    show();
    showNormal();
    if (!m_headless) { // the offscreen platform cannot raise and says so on every call
        raise();
        activateWindow();
    }
}

void TrayDialog::hideWindow()
{
    m_visible = false;
    hide();
}

void TrayDialog::centreOnScreen()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TrayDialog::closeToTray()
{
    if (m_tray.available())
        hideWindow();
    else
        showMinimized();
}

void TrayDialog::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (m_tray.available()) {
        hideWindow();
        return;
    }
    // Without a notification area the close box is the only way out the user can see.
    if (plat::ask(kEndQuestion, plat::Buttons::YesNo, plat::Icon::Question) == plat::Answer::Yes)
        Q_EMIT exitChosen();
    else
        showMinimized();
}

void TrayDialog::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        closeToTray();
        break;
    default:
        QDialog::keyPressEvent(event);
    }
}

void TrayDialog::reject()
{
    closeToTray();
}

void TrayDialog::accept()
{
    closeToTray();
}

std::unique_ptr<QMenu> TrayDialog::contextMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    QAction* about = menu->addAction(QString::fromUtf8(kAboutItem));
    menu->addSeparator();
    QAction* exit = menu->addAction(QString::fromUtf8(kExitItem));
    // Queued: the menu is gone before the about box opens or the program ends.
    connect(
        about, &QAction::triggered, this, [this] { systemCommand(kAboutCommand); },
        Qt::QueuedConnection);
    connect(exit, &QAction::triggered, this, &TrayDialog::exitChosen, Qt::QueuedConnection);
    return menu;
}

void TrayDialog::contextMenuEvent(QContextMenuEvent* event)
{
    contextMenu()->exec(event->globalPos());
}

void TrayDialog::systemCommand(int id)
{
    if ((id & ~0xF) == kAboutCommand) {
        CAboutDlg about(this);
        about.exec();
    }
}
