#pragma once

#include "platform/EventLoop.h"

#include <QLabel>

#include <cstdint>
#include <deque>
#include <optional>

class CPostError;

// The status line: shows one notice for ten ticks of its own half-second timer (between 4.5 and
// 5 s); a new notice replaces the one shown and restarts the count. Between notices it is empty.
class CMsg : public QLabel
{
    Q_OBJECT
public:
    static constexpr int kTimerId = 104;
    static constexpr int kPeriodMs = 500;
    static constexpr int kTicks = 10;

    explicit CMsg(QWidget* parent = nullptr);

    // Starts the countdown timer (the main window does this early in its initialisation).
    void start();
    void showMessage(const QString& text);
    // A notice that must not be lost to the next one (one per file of a folder pass): shown at
    // once when the line is free, else after the notices before it have had their time.
    void queueMessage(const QString& text);
    // The notice a WM_POSTERROR (code, selector) from poster stands for (a detail notice is the
    // poster's detail text); none for a pair that shows nothing, or a detail without a poster.
    static std::optional<QString> noticeText(std::uintptr_t code, std::intptr_t selector,
                                             const CPostError* poster);
    // One tick of the countdown.
    void tick();
    // Says that node publishes another identity key than the one pinned for it, with a link
    // that accepts the new key (keyAccepted). Said again by every publishing step until then.
    void showKeyChange(const QString& node);
    // The node whose key change the line shows; empty when it shows none.
    const QString& keyChangeNode() const { return m_keyNode; }
    // The link was followed.
    void acceptShownKey();

signals:
    void keyAccepted(const QString& node);

public:
    bool showing() const { return m_showing; }
    int countdown() const { return m_countdown; }

private:
    QString m_message;
    QString m_keyNode;
    bool m_showing = false;
    int m_countdown = 0;
    std::deque<QString> m_queue;
    plat::TimerSet m_timer;
};
