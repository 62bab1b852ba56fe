#pragma once

#include "platform/Prompt.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

// A prompt handler for tests: records every message and question text in order and answers the
// questions from a script (the safe answer once the script is used up). Installs itself for its
// lifetime and restores the previous handler afterwards.
class RecordingPrompt : public plat::PromptHandler
{
public:
    RecordingPrompt();
    ~RecordingPrompt() override;
    RecordingPrompt(const RecordingPrompt&) = delete;
    RecordingPrompt& operator=(const RecordingPrompt&) = delete;

    // Answers for the next questions, in order.
    void script(std::initializer_list<plat::Answer> answers);

    void message(const std::string& text, plat::Icon icon) override;
    plat::Answer ask(const std::string& text, plat::Buttons buttons, plat::Icon icon) override;

    std::vector<std::string> messages;  // message boxes
    std::vector<std::string> questions; // questions asked
    // Messages and questions together, in the order they came.
    std::vector<std::string> all;
    // Runs while a question is open (as the event loop of a real message box runs timers).
    std::function<void(const std::string&)> whileAsking;

    void clear();

private:
    std::deque<plat::Answer> m_answers;
    plat::PromptHandler* m_previous;
};
