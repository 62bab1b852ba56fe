#include "ui/PavoIcons.h"

#include <QPainter>
#include <QPixmap>

namespace ui {

namespace {
QPixmap drawIcon(int size, const QColor& body, const QColor& eye)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    // A peacock's tail feather: a round body with an eye in it.
    p.setBrush(body);
    p.drawEllipse(QRectF(size * 0.06, size * 0.06, size * 0.88, size * 0.88));
    p.setBrush(eye);
    p.drawEllipse(QRectF(size * 0.3, size * 0.3, size * 0.4, size * 0.4));
    p.setBrush(QColor(20, 40, 120));
    p.drawEllipse(QRectF(size * 0.42, size * 0.42, size * 0.16, size * 0.16));
    return pixmap;
}

QIcon drawSet(const QColor& body, const QColor& eye)
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64})
        icon.addPixmap(drawIcon(size, body, eye));
    return icon;
}
} // namespace

QIcon mainIcon()
{
    // The installed theme icon where there is one; drawn here for a program run from its build.
    static const QIcon icon = QIcon::fromTheme(QStringLiteral("org.pavo.Pavo"),
                                               drawSet(QColor(30, 130, 110), QColor(230, 200, 60)));
    return icon;
}

QIcon trayIcon()
{
    static const QIcon icon = drawSet(QColor(40, 100, 180), QColor(230, 200, 60));
    return icon;
}

} // namespace ui
