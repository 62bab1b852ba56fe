#include "app/NameRules.h"

#include "platform/Cp932.h"
#include "platform/Files.h"

#include <QString>

#include <vector>

namespace names {

namespace {
// The text split into characters (a surrogate pair stays together).
std::vector<QString> splitCharacters(const QString& text)
{
    std::vector<QString> characters;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size();
        characters.push_back(text.mid(i, pair ? 2 : 1));
        if (pair)
            ++i;
    }
    return characters;
}
} // namespace

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

std::string cp932Substitute(std::string_view utf8)
{
    const QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    std::string out;
    for (const QString& character : splitCharacters(text)) {
        const std::string bytes = character.toStdString();
        if (plat::toCp932(bytes)) {
            out += bytes;
            continue;
        }
        // Compatibility decomposition, without the combining marks: "é" → "e", "ﬁ" → "fi".
        QString base;
        for (const QChar c : character.normalized(QString::NormalizationForm_KD))
            if (c.category() != QChar::Mark_NonSpacing && c.category() != QChar::Mark_Enclosing &&
                c.category() != QChar::Mark_SpacingCombining)
                base += c;
        const std::string near = base.toStdString();
        out += !near.empty() && plat::toCp932(near) ? near : std::string("_");
    }
    return out;
}

std::string unwritableList(std::string_view utf8)
{
    std::string list;
    for (const std::string& c : plat::unwritableCharacters(utf8))
        list += (list.empty() ? "" : "、") + c;
    return list;
}

bool hasSpace(std::string_view text)
{
    return text.find(' ') != std::string_view::npos;
}

bool isUsableNodeName(std::string_view utf8)
{
    return cp932Length(utf8).has_value() && plat::isSafeComponent(utf8);
}

} // namespace names
