#include "HoldingChild.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

HoldingChild::HoldingChild(const std::function<void(const Hold& hold)>& take)
{
    int ready[2];
    int hold[2];
    if (::pipe(ready) != 0 || ::pipe(hold) != 0) {
        ADD_FAILURE() << "pipe";
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(ready[0]);
        ::close(hold[1]);
        take([&](bool tookHold) {
            const char ok = tookHold ? 'y' : 'n';
            (void)!::write(ready[1], &ok, 1);
            // Returns when the parent closes its end (or ends).
            char c;
            (void)!::read(hold[0], &c, 1);
        });
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    char ok = 0;
    EXPECT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    ::close(ready[0]);
    m_release = hold[1];
}

HoldingChild::HoldingChild(const std::string& path, int flags)
    : HoldingChild([&](const Hold& hold) { hold(::open(path.c_str(), flags) >= 0); })
{
}

HoldingChild::~HoldingChild()
{
    release();
}

void HoldingChild::release()
{
    if (m_pid <= 0)
        return;
    ::close(m_release);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}
