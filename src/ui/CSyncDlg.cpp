#include "ui/CSyncDlg.h"

#include "ui/Translations.h"

#include "platform/Prompt.h"

#include <QButtonGroup>
#include <QCalendarWidget>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cstdio>

namespace {
const char* const kAllQuestion = "全データの同期を行います。よろしいですか？";
const char* const kNotPast = "日付は過去日付を選択して下さい。";

QDate localToday()
{
    const plat::SystemTime now = plat::localNow();
    return QDate(now.year, now.month, now.day);
}

const char* const kSinceQuestion = "%4d年%2d月%2d日以降のデータで同期します。よろしいですか";

std::string sinceQuestion(const QDate& d)
{
    char text[160];
    // The pattern in the interface's language; the English one keeps the same conversions.
    const std::string pattern = ui::tr(kSinceQuestion).toStdString();
    std::snprintf(text, sizeof text, pattern.c_str(), d.year(), d.month(), d.day());
    return text;
}
} // namespace

CSyncDlg::CSyncDlg(QWidget* parent, Today today)
    : QDialog(parent), m_today(today ? std::move(today) : Today(localToday))
{
    setWindowTitle(QStringLiteral("同期操作"));
    auto* text = new QLabel(QStringLiteral("この操作を行うと隣接ノードとファイル共有状態が同期しま"
                                           "す。データ量により同期が完了するまでしばらく時間がかか"
                                           "ります。"),
                            this);
    text->setWordWrap(true);
    auto* rangeGroup = new QGroupBox(QStringLiteral("同期範囲指定"), this);
    m_all = new QRadioButton(QStringLiteral("全データ同期"), rangeGroup);
    m_since = new QRadioButton(QStringLiteral("過去日付指定"), rangeGroup);
    m_calendar = new QCalendarWidget(rangeGroup);
    m_calendar->setLocale(QLocale(QLocale::Japanese, QLocale::Japan));
    auto* radios = new QButtonGroup(this);
    radios->addButton(m_all, kAll);
    radios->addButton(m_since, kSince);
    auto* groupLayout = new QVBoxLayout(rangeGroup);
    groupLayout->addWidget(m_all);
    groupLayout->addWidget(m_since);
    groupLayout->addWidget(m_calendar);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSyncDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(rangeGroup);
    layout->addWidget(buttons);

    m_date = m_today();
    m_calendar->setSelectedDate(m_date);
    m_calendar->setEnabled(false);
    m_all->setChecked(true);
    connect(radios, &QButtonGroup::idClicked, this, [this](int) { onRangeClicked(); });
    connect(m_calendar, &QCalendarWidget::selectionChanged, this,
            [this] { m_date = m_calendar->selectedDate(); });
}

int CSyncDlg::range() const
{
    return m_since->isChecked() ? kSince : kAll;
}

int CSyncDlg::mode() const
{
    return range() == kAll ? kModeAll : kModeSince;
}

plat::SystemTime CSyncDlg::date() const
{
    if (range() == kAll)
        return {};
    plat::SystemTime t;
    t.year = static_cast<std::uint16_t>(m_date.year());
    t.month = static_cast<std::uint16_t>(m_date.month());
    t.day = static_cast<std::uint16_t>(m_date.day());
    return t;
}

void CSyncDlg::onRangeClicked()
{
    if (range() == kSince) {
        m_calendar->setEnabled(true);
        return;
    }
    m_date = m_today();
    m_calendar->setEnabled(false);
    m_calendar->setSelectedDate(m_date);
}

void CSyncDlg::accept()
{
    if (range() == kAll) {
        if (plat::ask(kAllQuestion, plat::Buttons::YesNo) == plat::Answer::Yes)
            QDialog::accept();
        return;
    }
    if (m_date > m_today()) {
        plat::showMessage(kNotPast, plat::Icon::Warning);
        return;
    }
    if (plat::ask(sinceQuestion(m_date), plat::Buttons::YesNo) == plat::Answer::Yes)
        QDialog::accept();
}
