#include "ui/CMsg.h"

#include "app/CPostError.h"
#include "platform/TextEscape.h"
#include "ui/Translations.h"

namespace {
const char* const kPartyMismatch = "TCP接続でパーティ名が不一致の接続があります.切断します.";
const char* const kFrameError = "TCP接続フレームエラーです接続先のバージョンを確認して下さい.";
} // namespace

CMsg::CMsg(QWidget* parent) : QLabel(parent), m_timer([this](int) { tick(); })
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    setTextInteractionFlags(Qt::NoTextInteraction);
    // Notices carry names that peers chose: never read as markup (the key-change line escapes
    // the node's name itself).
    setTextFormat(Qt::PlainText);
    connect(this, &QLabel::linkActivated, this, [this](const QString&) { acceptShownKey(); });
}

void CMsg::showKeyChange(const QString& node)
{
    m_keyNode = node;
    m_message = ui::tr("ノード「%1」の鍵が以前と違います。本人に指紋を確かめてから")
                    .arg(node.toHtmlEscaped()) +
                QStringLiteral(" <a href=\"accept\">") + ui::tr("新しい鍵を受け入れる") +
                QStringLiteral("</a>");
    m_showing = true;
    m_countdown = kTicks;
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setText(m_message);
    update();
}

void CMsg::acceptShownKey()
{
    if (m_keyNode.isEmpty())
        return;
    const QString node = m_keyNode;
    m_keyNode.clear();
    emit keyAccepted(node);
}

void CMsg::start()
{
    m_timer.set(kTimerId, kPeriodMs);
}

void CMsg::showMessage(const QString& text)
{
    m_keyNode.clear();
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    m_message =
        QString::fromStdString(plat::escapeControls(ui::tr(text.toStdString()).toStdString()));
    m_showing = true;
    m_countdown = kTicks;
    setText(m_message);
    update();
}

void CMsg::queueMessage(const QString& text)
{
    if (m_showing)
        m_queue.push_back(text);
    else
        showMessage(text);
}

void CMsg::tick()
{
    const bool wasShowing = m_showing;
    if (m_countdown > 0) {
        --m_countdown;
        if (m_countdown == 0) {
            m_showing = false;
            m_message.clear();
            if (!m_queue.empty()) {
                const QString next = m_queue.front();
                m_queue.pop_front();
                showMessage(next);
                return;
            }
        }
    }
    if (wasShowing != m_showing) {
        setText(m_showing ? m_message : QString());
        update();
    }
}

std::optional<QString> CMsg::noticeText(std::uintptr_t code, std::intptr_t selector,
                                        const CPostError* poster)
{
    if (selector == 0 && code == CPostError::kPartyMismatch)
        return QString::fromUtf8(kPartyMismatch);
    if (selector == 0 && code == CPostError::kFrameError)
        return QString::fromUtf8(kFrameError);
    if (selector == 1 && code == 1 && poster)
        return QString::fromStdString(poster->detailText());
    return std::nullopt;
}
