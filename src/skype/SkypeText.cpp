#include "skype/SkypeText.h"

namespace skype {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Decimal digits only, 1 to maxDigits of them.
bool readNumber(std::string_view text, std::size_t maxDigits, long long& value)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

} // namespace

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool validSkypeId(std::string_view id)
{
    if (id.empty() || id.size() > kMaxIdBytes)
        return false;
    for (char c : id) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f || c == ' ' || c == ':' || c == ',')
            return false;
    }
    return true;
}

bool parseStreamItem(std::string_view item, bool withCount, StreamItem& out)
{
    const std::size_t colon = item.find(':');
    if (colon == std::string_view::npos || !validSkypeId(item.substr(0, colon)))
        return false;
    std::string_view rest = item.substr(colon + 1);
    if (withCount) {
        const std::size_t equals = rest.find('=');
        long long count = 0;
        if (equals == std::string_view::npos || !readNumber(rest.substr(equals + 1), 18, count))
            return false;
        rest = rest.substr(0, equals);
    }
    long long number = 0;
    if (!readNumber(rest, 9, number))
        return false;
    out.id = std::string(item.substr(0, colon));
    out.number = static_cast<int>(number);
    return true;
}

bool splitList(std::string_view text, bool commas, std::vector<std::string_view>& out,
               std::size_t maxItems)
{
    out.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        const auto separates = [&](char c) { return isBlank(c) || (commas && c == ','); };
        while (i < text.size() && separates(text[i]))
            ++i;
        const std::size_t start = i;
        while (i < text.size() && !separates(text[i]))
            ++i;
        if (i == start)
            break;
        if (out.size() == maxItems)
            return false;
        out.push_back(text.substr(start, i - start));
    }
    return true;
}

} // namespace skype
