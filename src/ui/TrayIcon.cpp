#include "ui/TrayIcon.h"

#include "ui/PavoIcons.h"

#include <QMenu>
#include <QSystemTrayIcon>

TrayIcon::TrayIcon(QObject* parent) : QObject(parent)
{
    m_menu = std::make_unique<QMenu>();
    QAction* open = m_menu->addAction(QStringLiteral("メインウィンドウを開く"));
    m_menu->addSeparator();
    QAction* exit = m_menu->addAction(QStringLiteral("終了"));
    connect(open, &QAction::triggered, this, &TrayIcon::openRequested);
    connect(exit, &QAction::triggered, this, &TrayIcon::exitRequested);
}

TrayIcon::~TrayIcon()
{
    remove();
}

std::string TrayIcon::toolTipText(const std::string& title, bool peersConnected)
{
    std::string text = title + "\r\n" + (peersConnected ? "ONLINE" : "OFFLINE");
    if (text.size() > kMaxToolTip) {
        std::size_t cut = kMaxToolTip;
        // Back off over UTF-8 continuation bytes so no character is cut in half.
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        text.resize(cut);
    }
    return text;
}

bool TrayIcon::available() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::createIcon()
{
    if (m_icon || !available())
        return;
    m_icon = new QSystemTrayIcon(ui::trayIcon(), this);
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    Q_EMIT openRequested();
            });
}

void TrayIcon::setToolTipText(const std::string& toolTip)
{
    m_toolTip = toolTip;
    if (!m_icon)
        return;
    // Desktop tool-tips break lines at "\n"; a "\r" would show as a stray glyph.
    QString shown = QString::fromStdString(toolTip);
    shown.remove(QLatin1Char('\r'));
    m_icon->setToolTip(shown);
}

void TrayIcon::add(const std::string& toolTip)
{
    createIcon();
    setToolTipText(toolTip);
    if (m_icon)
        m_icon->show();
}

void TrayIcon::refresh(const std::string& toolTip)
{
    if (toolTip != m_toolTip)
        setToolTipText(toolTip);
    if (!m_icon || !m_icon->isVisible())
        add(toolTip);
}

void TrayIcon::remove()
{
    if (m_icon) {
        m_icon->hide();
        delete m_icon;
        m_icon = nullptr;
    }
}
