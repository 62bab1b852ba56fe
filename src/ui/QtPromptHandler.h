#pragma once

#include "platform/Prompt.h"

// Shows the program's messages and questions as modal message boxes.
class QtPromptHandler : public plat::PromptHandler
{
public:
    void message(const std::string& text, plat::Icon icon) override;
    plat::Answer ask(const std::string& text, plat::Buttons buttons, plat::Icon icon) override;
};
