#include "ui/TrayDialog.h"

#include "ui/CAboutDlg.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

namespace {
const char* const kAboutItem = "Pavo のﾊﾞｰｼﾞｮﾝ情報(&A)...";
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
    closeToTray();
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

void TrayDialog::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* about = menu.addAction(QString::fromUtf8(kAboutItem));
    if (menu.exec(event->globalPos()) == about)
        systemCommand(kAboutCommand);
}

void TrayDialog::systemCommand(int id)
{
    if ((id & ~0xF) == kAboutCommand) {
        CAboutDlg about(this);
        about.exec();
    }
}
