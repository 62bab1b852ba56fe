#include "ui/CMsg.h"

CMsg::CMsg(QWidget* parent) : QLabel(parent), m_timer([this](int) { tick(); })
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

void CMsg::start()
{
    m_timer.set(kTimerId, kPeriodMs);
}

void CMsg::showMessage(const QString& text)
{
    m_message = text;
    m_showing = true;
    m_countdown = kTicks;
    setText(m_message);
    update();
}

void CMsg::tick()
{
    const bool wasShowing = m_showing;
    if (m_countdown > 0) {
        --m_countdown;
        if (m_countdown == 0) {
            m_showing = false;
            m_message.clear();
        }
    }
    if (wasShowing != m_showing) {
        setText(m_showing ? m_message : QString());
        update();
    }
}
