#pragma once

#include <string>

// Every message box and question of the program passes through here. The user interface installs
// a handler that shows real dialogs; without one (headless, and tests that install their own
// recorder) messages go to standard error and questions take their safe answer.
namespace plat {

enum class Buttons
{
    Ok,
    OkCancel,
    YesNo,
    YesNoCancel,
};

enum class Answer
{
    Ok,
    Cancel,
    Yes,
    No,
};

enum class Icon
{
    Information,
    Warning,
    Error,
    Question,
};

class PromptHandler
{
public:
    virtual ~PromptHandler() = default;
    virtual void message(const std::string& text, Icon icon) = 0;
    virtual Answer ask(const std::string& text, Buttons buttons, Icon icon) = 0;
};

// The safe answer of a question nobody can answer: No, or Cancel where there is no No.
Answer safeAnswer(Buttons buttons);

// Installs handler (not owned); nullptr restores the standard-error handler. Returns the previous.
PromptHandler* setPromptHandler(PromptHandler* handler);

void showMessage(const std::string& text, Icon icon = Icon::Information);
Answer ask(const std::string& text, Buttons buttons, Icon icon = Icon::Question);

} // namespace plat
