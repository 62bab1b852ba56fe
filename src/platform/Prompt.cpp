#include "platform/Prompt.h"

#include "platform/TextEscape.h"

#include <cstdio>
#include <string_view>

namespace plat {

namespace {

const char* kindOf(Icon icon)
{
    switch (icon) {
    case Icon::Information:
        return "message";
    case Icon::Warning:
        return "warning";
    case Icon::Error:
        return "error";
    case Icon::Question:
        return "question";
    }
    return "message";
}

const char* answerText(Answer answer)
{
    switch (answer) {
    case Answer::Ok:
        return "OK";
    case Answer::Cancel:
        return "Cancel";
    case Answer::Yes:
        return "Yes";
    case Answer::No:
        return "No";
    }
    return "";
}

// Every line gets the prefix, so a message of several lines stays recognisable in a log.
void writeLines(const std::string& text, Icon icon)
{
    std::string_view rest = text;
    do {
        const auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        // A name a peer chose may be part of the text: it must not steer the terminal.
        const std::string safe = escapeControls(line);
        std::fprintf(stderr, "pavo: %s: %s\n", kindOf(icon), safe.c_str());
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    } while (!rest.empty());
    std::fflush(stderr);
}

// Nobody can click on standard error: messages are written, questions take the safe answer.
class StderrHandler final : public PromptHandler
{
public:
    void message(const std::string& text, Icon icon) override { writeLines(text, icon); }

    Answer ask(const std::string& text, Buttons buttons, Icon icon) override
    {
        const Answer answer = safeAnswer(buttons);
        writeLines(text + "\n-> " + answerText(answer), icon);
        return answer;
    }
};

StderrHandler stderrHandler;
PromptHandler* current = &stderrHandler;

} // namespace

Answer safeAnswer(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::OkCancel:
        return Answer::Cancel;
    case Buttons::YesNo:
    case Buttons::YesNoCancel:
        return Answer::No;
    }
    return Answer::Cancel;
}

PromptHandler* setPromptHandler(PromptHandler* handler)
{
    PromptHandler* previous = current == &stderrHandler ? nullptr : current;
    current = handler ? handler : &stderrHandler;
    return previous;
}

void showMessage(const std::string& text, Icon icon)
{
    current->message(text, icon);
}

Answer ask(const std::string& text, Buttons buttons, Icon icon)
{
    return current->ask(text, buttons, icon);
}

} // namespace plat
