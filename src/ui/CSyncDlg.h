#pragma once

#include "platform/LocalTime.h"

#include <QDate>
#include <QDialog>

#include <functional>

class QCalendarWidget;
class QRadioButton;

// Chooses how much of a peer's catalog to ask for again: everything, or what was registered on
// or after a day that is not in the future. Both choices are confirmed before the dialog closes.
class CSyncDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kAll = 0;
    static constexpr int kSince = 1;
    // Sync modes of the request.
    static constexpr int kModeAll = 1;
    static constexpr int kModeSince = 2;

    using Today = std::function<QDate()>;

    // today: the local date; the clock's when not given.
    explicit CSyncDlg(QWidget* parent = nullptr, Today today = {});

    int range() const;
    QDate chosenDate() const { return m_date; }
    // The request the dialog ended with: mode 1 with an all-zero date, or mode 2 with the chosen
    // day at 00:00:00.000 (day of week 0).
    int mode() const;
    plat::SystemTime date() const;

    QRadioButton* allButton() const { return m_all; }
    QRadioButton* sinceButton() const { return m_since; }
    QCalendarWidget* calendar() const { return m_calendar; }

public Q_SLOTS:
    void accept() override;

private:
    void onRangeClicked();

    Today m_today;
    QDate m_date;
    QRadioButton* m_all = nullptr;
    QRadioButton* m_since = nullptr;
    QCalendarWidget* m_calendar = nullptr;
};
