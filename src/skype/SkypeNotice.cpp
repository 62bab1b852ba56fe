#include "skype/SkypeNotice.h"

#include <array>
#include <utility>

namespace skype {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::optional<std::string_view> afterKeyword(std::string_view text, std::string_view keyword)
{
    if (keyword.empty() || text.substr(0, keyword.size()) != keyword)
        return std::nullopt;
    std::string_view rest = text.substr(keyword.size());
    if (rest.empty())
        return rest;
    if (!isBlank(rest.front()))
        return std::nullopt;
    return rest.substr(1);
}

LinkNotice classifyLinkText(std::string_view text)
{
    for (std::string_view word : {"CREATE", "DELETE", "ALTER", "APPLICATION"}) {
        if (afterKeyword(text, word))
            return {LinkNoticeKind::Application, text};
    }
    static constexpr std::array<std::pair<std::string_view, LinkNoticeKind>, 4> kWords = {{
        {"CURRENTUSERHANDLE", LinkNoticeKind::Handle},
        {"USERSTATUS", LinkNoticeKind::Status},
        {"USERS", LinkNoticeKind::Users},
        {"USER", LinkNoticeKind::User},
    }};
    for (const auto& [word, kind] : kWords) {
        if (const auto rest = afterKeyword(text, word))
            return {kind, *rest};
    }
    return {};
}

AppNotice classifyAppNotification(std::string_view text)
{
    static constexpr std::array<std::pair<std::string_view, AppNoticeKind>, 5> kWords = {{
        {"CONNECTABLE", AppNoticeKind::Connectable},
        {"STREAMS", AppNoticeKind::Streams},
        {"SENDING", AppNoticeKind::Sending},
        {"RECEIVED", AppNoticeKind::Received},
        {"SENDLIMIT", AppNoticeKind::SendLimit},
    }};
    for (const auto& [word, kind] : kWords) {
        if (const auto rest = afterKeyword(text, word))
            return {kind, *rest};
    }
    return {};
}

} // namespace skype
