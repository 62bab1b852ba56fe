#include "ui/NameRules.h"

#include "platform/Cp932.h"
#include "platform/Files.h"

namespace ui {

std::optional<std::size_t> cp932Length(std::string_view utf8)
{
    const auto cp932 = plat::toCp932(utf8);
    if (!cp932)
        return std::nullopt;
    return cp932->size();
}

std::size_t limitLength(std::string_view utf8)
{
    if (const auto bytes = cp932Length(utf8))
        return *bytes;
    std::size_t characters = 0;
    for (const char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++characters;
    return characters;
}

bool hasSpace(std::string_view text)
{
    return text.find(' ') != std::string_view::npos;
}

bool isUsableNodeName(std::string_view utf8)
{
    return cp932Length(utf8).has_value() && plat::isSafeComponent(utf8);
}

} // namespace ui
