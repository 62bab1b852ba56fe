#include "skype/SkypeNotice.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using skype::AppNoticeKind;
using skype::LinkNoticeKind;

TEST(SkypeNoticeTest, AfterKeywordTakesWholeWordsAndOneBlank)
{
    struct Row
    {
        const char* text;
        const char* keyword;
        std::optional<std::string> rest;
    };
    const Row rows[] = {
        {"USERS alice,bob", "USERS", "alice,bob"},
        {"USERS", "USERS", ""},
        {"USERS ", "USERS", ""},
        {"USERS  two", "USERS", " two"}, // only one blank belongs to the keyword
        {"USERSTATUS ONLINE", "USERS", std::nullopt},
        {"USERS alice", "USER", std::nullopt},
        {"USER", "USERS", std::nullopt},
        {"users alice", "USERS", std::nullopt},
        {"", "USERS", std::nullopt},
        {"READ\tbob:1 00ff", "READ", "bob:1 00ff"},
        {"anything", "", std::nullopt},
    };
    for (const Row& row : rows) {
        const auto rest = skype::afterKeyword(row.text, row.keyword);
        SCOPED_TRACE(std::string(row.text) + " / " + row.keyword);
        ASSERT_EQ(rest.has_value(), row.rest.has_value());
        if (rest) {
            EXPECT_EQ(std::string(*rest), *row.rest);
        }
    }
}

TEST(SkypeNoticeTest, LinkTextsAreRoutedByTheirFirstWord)
{
    struct Row
    {
        const char* text;
        LinkNoticeKind kind;
        const char* arg;
    };
    const Row rows[] = {
        {"CURRENTUSERHANDLE alice", LinkNoticeKind::Handle, "alice"},
        {"CURRENTUSERHANDLE", LinkNoticeKind::Handle, ""},
        {"USERSTATUS ONLINE", LinkNoticeKind::Status, "ONLINE"},
        {"USERS alice, bob,carol", LinkNoticeKind::Users, "alice, bob,carol"},
        {"USERS", LinkNoticeKind::Users, ""},
        {"USER bob ONLINESTATUS ONLINE", LinkNoticeKind::User, "bob ONLINESTATUS ONLINE"},
        {"CREATE APPLICATION PAVO000x", LinkNoticeKind::Application, "CREATE APPLICATION PAVO000x"},
        {"DELETE APPLICATION PAVO000x", LinkNoticeKind::Application, "DELETE APPLICATION PAVO000x"},
        {"ALTER APPLICATION P READ bob:1 00", LinkNoticeKind::Application,
         "ALTER APPLICATION P READ bob:1 00"},
        {"APPLICATION P STREAMS bob:1", LinkNoticeKind::Application, "APPLICATION P STREAMS bob:1"},
        {"CONNSTATUS ONLINE", LinkNoticeKind::Ignored, ""},
        {"USERSX alice", LinkNoticeKind::Ignored, ""},
        {"CREATED", LinkNoticeKind::Ignored, ""},
        {"APPLICATIONS", LinkNoticeKind::Ignored, ""},
        {"", LinkNoticeKind::Ignored, ""},
        {"ERROR 68", LinkNoticeKind::Ignored, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const skype::LinkNotice notice = skype::classifyLinkText(row.text);
        EXPECT_EQ(notice.kind, row.kind);
        EXPECT_EQ(std::string(notice.text), row.arg);
    }
}

TEST(SkypeNoticeTest, ApplicationNotificationsAreRoutedByTheirFirstWord)
{
    struct Row
    {
        const char* text;
        AppNoticeKind kind;
        const char* arg;
    };
    const Row rows[] = {
        {"CONNECTABLE bob carol", AppNoticeKind::Connectable, "bob carol"},
        {"CONNECTABLE", AppNoticeKind::Connectable, ""},
        {"CONNECTING bob", AppNoticeKind::Ignored, ""},
        {"STREAMS bob:1 carol:2", AppNoticeKind::Streams, "bob:1 carol:2"},
        {"STREAMS", AppNoticeKind::Streams, ""},
        {"SENDING", AppNoticeKind::Sending, ""},
        {"SENDING bob:1", AppNoticeKind::Sending, "bob:1"},
        {"RECEIVED bob:1=40", AppNoticeKind::Received, "bob:1=40"},
        {"RECEIVEDX bob:1=40", AppNoticeKind::Ignored, ""},
        {"DATAGRAM bob:1 hi", AppNoticeKind::Ignored, ""},
        {"SENDLIMIT 10240", AppNoticeKind::SendLimit, "10240"},
        {"", AppNoticeKind::Ignored, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const skype::AppNotice notice = skype::classifyAppNotification(row.text);
        EXPECT_EQ(notice.kind, row.kind);
        EXPECT_EQ(std::string(notice.text), row.arg);
    }
}

} // namespace
