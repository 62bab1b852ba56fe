#include "RecordingPrompt.h"

RecordingPrompt::RecordingPrompt() : m_previous(plat::setPromptHandler(this)) {}

RecordingPrompt::~RecordingPrompt()
{
    plat::setPromptHandler(m_previous);
}

void RecordingPrompt::script(std::initializer_list<plat::Answer> answers)
{
    m_answers.insert(m_answers.end(), answers);
}

void RecordingPrompt::message(const std::string& text, plat::Icon)
{
    messages.push_back(text);
    all.push_back(text);
}

plat::Answer RecordingPrompt::ask(const std::string& text, plat::Buttons buttons, plat::Icon)
{
    questions.push_back(text);
    all.push_back(text);
    if (whileAsking)
        whileAsking(text);
    if (m_answers.empty())
        return plat::safeAnswer(buttons);
    const plat::Answer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void RecordingPrompt::clear()
{
    messages.clear();
    questions.clear();
    all.clear();
    m_answers.clear();
}
