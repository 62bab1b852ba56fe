#include "ui/ElidedLabel.h"

#include <QResizeEvent>

#include <algorithm>

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text)
{
    m_full = text;
    setToolTip(text);
    updateShown();
}

QString ElidedLabel::shownText() const
{
    return text();
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    const int wanted =
        std::min(fm.horizontalAdvance(m_full), fm.averageCharWidth() * kPreferredCharacters);
    const QMargins m = contentsMargins();
    return {wanted + m.left() + m.right() + 2 * margin(), QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QMargins m = contentsMargins();
    return {fontMetrics().averageCharWidth() * 8 + m.left() + m.right(),
            QLabel::minimumSizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    updateShown();
}

void ElidedLabel::updateShown()
{
    const int room = contentsRect().width() - 2 * margin();
    QLabel::setText(fontMetrics().elidedText(m_full, Qt::ElideMiddle, std::max(room, 0)));
}
