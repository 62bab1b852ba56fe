#include "control/ControlServer.h"
#include "control/ControlClient.h"
#include "control/LineFrame.h"
#include "support/TempDir.h"

#include "platform/EventLoop.h"

#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

TEST(LineFrame, FindsLinesWithinTheBound)
{
    struct Case
    {
        std::string bytes;
        LineFrame::Status status;
        std::size_t length;
    };
    const Case cases[] = {
        {"", LineFrame::Status::NeedMore, 0},
        {"{\"a\":1", LineFrame::Status::NeedMore, 0},
        {"{}\n{}", LineFrame::Status::Complete, 2},
        {"\n", LineFrame::Status::Complete, 0},
        {std::string(9, 'x'), LineFrame::Status::TooLong, 0},
        {std::string(9, 'x') + "\n", LineFrame::Status::TooLong, 0},
        {std::string(8, 'x') + "\n", LineFrame::Status::Complete, 8},
    };
    for (const Case& c : cases) {
        const LineFrame::Result r = LineFrame::next(c.bytes, 8);
        EXPECT_EQ(r.status, c.status) << c.bytes;
        EXPECT_EQ(r.length, c.length) << c.bytes;
    }
}

namespace {
// A server that answers every line with the line's length, over a real socket.
struct Echo
{
    TempDir dir;
    std::string path = dir.file("control.sock");
    std::vector<std::string> lines;
    int closed = 0;
    ControlServer server{{[this](int client, const std::string& line) {
                              lines.push_back(line);
                              server.send(client, "{\"id\":" + std::to_string(lines.size()) +
                                                      ",\"length\":" + std::to_string(line.size()) +
                                                      "}");
                          },
                          [this](int) { ++closed; }}};
};

int rawClient(const std::string& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    return fd;
}
} // namespace

TEST(ControlServer, AnswersLinesAndDropsAClientThatSendsNoProtocol)
{
    Echo echo;
    std::string why;
    ASSERT_TRUE(echo.server.listen(echo.path, &why)) << why;
    struct stat st
    {
    };
    ASSERT_EQ(::stat(echo.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u); // the socket is this user's only

    // A line longer than the bound, without an end: that client is dropped.
    const int flooder = rawClient(echo.path);
    const std::string flood(ControlServer::kMaxLine + 10, 'x');
    ASSERT_EQ(::send(flooder, flood.data(), flood.size(), 0), ssize_t(flood.size()));
    ASSERT_TRUE(plat::runUntil([&] { return echo.closed == 1; }, 5000));
    ::close(flooder);

    // An honest client after it is served; its lines come in order.
    const int fd = rawClient(echo.path);
    const std::string two = "{\"a\":1}\n{\"bb\":2}\n";
    ASSERT_EQ(::send(fd, two.data(), two.size(), 0), ssize_t(two.size()));
    ASSERT_TRUE(plat::runUntil([&] { return echo.lines.size() == 2; }, 5000));
    EXPECT_EQ(echo.lines[0], "{\"a\":1}");
    EXPECT_EQ(echo.lines[1], "{\"bb\":2}");
    ::close(fd);
    ASSERT_TRUE(plat::runUntil([&] { return echo.closed == 2; }, 5000));
}

TEST(ControlServer, ReplacesASocketLeftByANodeThatHasGoneButNotALiveOne)
{
    Echo first;
    std::string why;
    // Left behind: a socket file nobody listens on.
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    first.path.copy(addr.sun_path, first.path.size());
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ::close(stale);
    ASSERT_TRUE(first.server.listen(first.path, &why)) << why;

    ControlServer second{{}};
    EXPECT_FALSE(second.listen(first.path, &why));
    EXPECT_NE(why.find("another node"), std::string::npos) << why;
    EXPECT_TRUE(first.server.listening());
}
