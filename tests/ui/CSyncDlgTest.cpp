#include "ui/CSyncDlg.h"

#include "support/RecordingPrompt.h"

#include <QCalendarWidget>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

const plat::SystemTime kZero{};

CSyncDlg::Today fixedToday(QDate day)
{
    return [day] { return day; };
}

struct PastCase
{
    QDate today;
    QDate chosen;
    const char* question; // nullptr: refused as a future date
};

} // namespace

TEST(CSyncDlg, StartsWithEverythingAndTheCalendarDisabledOnToday)
{
    const QDate today(2024, 5, 3);
    CSyncDlg d(nullptr, fixedToday(today));
    EXPECT_EQ(d.range(), CSyncDlg::kAll);
    EXPECT_FALSE(d.calendar()->isEnabled());
    EXPECT_EQ(d.chosenDate(), today);
    d.sinceButton()->click();
    EXPECT_TRUE(d.calendar()->isEnabled());
}

TEST(CSyncDlg, APastDateIsTodayOrEarlierComparedByYearMonthAndDay)
{
    const PastCase cases[] = {
        {QDate(2024, 5, 3), QDate(2024, 5, 3),
         "2024年 5月 3日以降のデータで同期します。よろしいですか"},
        {QDate(2024, 5, 3), QDate(2024, 5, 4), nullptr},
        {QDate(2024, 5, 3), QDate(2024, 6, 1), nullptr},
        {QDate(2024, 5, 3), QDate(2025, 1, 1), nullptr},
        {QDate(2024, 1, 1), QDate(2023, 12, 31),
         "2023年12月31日以降のデータで同期します。よろしいですか"},
        {QDate(2024, 3, 10), QDate(2024, 2, 29),
         "2024年 2月29日以降のデータで同期します。よろしいですか"},
    };
    for (const PastCase& c : cases) {
        SCOPED_TRACE(c.chosen.toString(Qt::ISODate).toStdString());
        RecordingPrompt prompt;
        prompt.script({plat::Answer::Yes});
        CSyncDlg d(nullptr, fixedToday(c.today));
        d.sinceButton()->click();
        d.calendar()->setSelectedDate(c.chosen);
        d.accept();
        if (!c.question) {
            EXPECT_EQ(prompt.messages,
                      std::vector<std::string>{"日付は過去日付を選択して下さい。"});
            EXPECT_TRUE(prompt.questions.empty());
            EXPECT_NE(d.result(), QDialog::Accepted);
            continue;
        }
        EXPECT_EQ(prompt.questions, std::vector<std::string>{c.question});
        ASSERT_EQ(d.result(), QDialog::Accepted);
        EXPECT_EQ(d.mode(), CSyncDlg::kModeSince);
        const plat::SystemTime expected{static_cast<std::uint16_t>(c.chosen.year()),
                                        static_cast<std::uint16_t>(c.chosen.month()),
                                        0,
                                        static_cast<std::uint16_t>(c.chosen.day()),
                                        0,
                                        0,
                                        0,
                                        0};
        EXPECT_EQ(d.date(), expected);
    }
}

TEST(CSyncDlg, BackToEverythingForgetsTheDateAndAsksFirst)
{
    const QDate today(2024, 5, 3);
    RecordingPrompt prompt;
    CSyncDlg d(nullptr, fixedToday(today));
    d.sinceButton()->click();
    d.calendar()->setSelectedDate(QDate(2024, 4, 1));
    d.allButton()->click();
    EXPECT_EQ(d.chosenDate(), today);
    EXPECT_FALSE(d.calendar()->isEnabled());
    EXPECT_EQ(d.calendar()->selectedDate(), today);

    prompt.script({plat::Answer::No});
    d.accept();
    EXPECT_EQ(prompt.questions,
              std::vector<std::string>{"全データの同期を行います。よろしいですか？"});
    EXPECT_NE(d.result(), QDialog::Accepted);

    prompt.script({plat::Answer::Yes});
    d.accept();
    ASSERT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.mode(), CSyncDlg::kModeAll);
    EXPECT_EQ(d.date(), kZero);
}

TEST(CSyncDlg, NoToTheDateQuestionKeepsTheDialogOpen)
{
    RecordingPrompt prompt;
    prompt.script({plat::Answer::No});
    CSyncDlg d(nullptr, fixedToday(QDate(2024, 5, 3)));
    d.sinceButton()->click();
    d.accept();
    EXPECT_EQ(prompt.questions.size(), 1u);
    EXPECT_NE(d.result(), QDialog::Accepted);
}
