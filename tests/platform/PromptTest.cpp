#include "platform/Prompt.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using plat::Answer;
using plat::Buttons;
using plat::Icon;

class Recorder : public plat::PromptHandler
{
public:
    void message(const std::string& text, Icon icon) override { seen.push_back({text, icon}); }
    Answer ask(const std::string& text, Buttons, Icon icon) override
    {
        seen.push_back({text, icon});
        return Answer::Yes;
    }

    struct Entry
    {
        std::string text;
        Icon icon;
    };
    std::vector<Entry> seen;
};

TEST(Prompt, SafeAnswerIsNoOrCancel)
{
    const std::pair<Buttons, Answer> rows[] = {
        {Buttons::Ok, Answer::Ok},
        {Buttons::OkCancel, Answer::Cancel},
        {Buttons::YesNo, Answer::No},
        {Buttons::YesNoCancel, Answer::No},
    };
    for (const auto& [buttons, answer] : rows)
        EXPECT_EQ(plat::safeAnswer(buttons), answer) << static_cast<int>(buttons);
}

TEST(Prompt, WithoutHandlerMessagesGoToStandardErrorAndQuestionsTakeTheSafeAnswer)
{
    ::testing::internal::CaptureStderr();
    plat::showMessage("    ２重起動です。処理を中止します    ", Icon::Error);
    plat::showMessage("first line\nsecond line");
    const Answer answer = plat::ask("削除しますか？", Buttons::YesNo);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, Answer::No);
    EXPECT_EQ(err, "pavo: error:     ２重起動です。処理を中止します    \n"
                   "pavo: message: first line\n"
                   "pavo: message: second line\n"
                   "pavo: question: 削除しますか？\n"
                   "pavo: question: -> No\n");
}

TEST(Prompt, InstalledHandlerReceivesEverythingUntilRemoved)
{
    Recorder recorder;
    EXPECT_EQ(plat::setPromptHandler(&recorder), nullptr);
    plat::showMessage("hello", Icon::Warning);
    EXPECT_EQ(plat::ask("sure?", Buttons::YesNoCancel), Answer::Yes);
    ASSERT_EQ(recorder.seen.size(), 2u);
    EXPECT_EQ(recorder.seen[0].text, "hello");
    EXPECT_EQ(recorder.seen[0].icon, Icon::Warning);
    EXPECT_EQ(recorder.seen[1].icon, Icon::Question);

    Recorder inner;
    EXPECT_EQ(plat::setPromptHandler(&inner), &recorder);
    EXPECT_EQ(plat::setPromptHandler(&recorder), &inner);
    EXPECT_EQ(plat::setPromptHandler(nullptr), &recorder);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(plat::ask("again?", Buttons::OkCancel), Answer::Cancel);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(recorder.seen.size(), 2u);
    EXPECT_TRUE(inner.seen.empty());
}

} // namespace
