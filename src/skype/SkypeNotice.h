#pragma once

#include <optional>
#include <string_view>

// The texts of the messaging client, read into typed notices. Pure functions over the text, so
// they are tested with tables and fuzzed apart from the link that carries them.
namespace skype {

// The text after keyword and the one blank that follows it, when text begins with keyword as a
// whole word (followed by a blank or by nothing); nullopt otherwise, so "USERSTATUS" is never
// read as "USERS" nor "USERS" as "USER".
std::optional<std::string_view> afterKeyword(std::string_view text, std::string_view keyword);

// What the link does with a command reply or notification.
enum class LinkNoticeKind
{
    Ignored,
    Application, // CREATE, DELETE, ALTER and APPLICATION texts, passed on whole
    Handle,      // CURRENTUSERHANDLE <own id>
    Status,      // USERSTATUS <presence word>
    Users,       // USERS <contact list>
    User         // USER <id> <property> <value>
};

struct LinkNotice
{
    LinkNoticeKind kind = LinkNoticeKind::Ignored;
    std::string_view text; // what the users are given: a part of the classified text
};

LinkNotice classifyLinkText(std::string_view text);

// What an application does with a notification about itself (the text after "APPLICATION",
// its name and one blank).
enum class AppNoticeKind
{
    Ignored,
    Connectable, // blank-separated ids that can be connected now
    Streams,     // the full list of open streams
    Sending,     // the streams whose writes have not left the client yet
    Received,    // streams with data waiting, id:number=count items
    SendLimit    // bytes per second: the client's server holds its sending far below the pace
};

struct AppNotice
{
    AppNoticeKind kind = AppNoticeKind::Ignored;
    std::string_view text;
};

AppNotice classifyAppNotification(std::string_view text);

} // namespace skype
