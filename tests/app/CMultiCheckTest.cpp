#include "app/CMultiCheck.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

// Another process that asks for a name and holds whatever it got until released.
class OtherProcess
{
public:
    explicit OtherProcess(const std::string& name)
    {
        int result[2], hold[2];
        if (::pipe(result) != 0 || ::pipe(hold) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(result[0]);
            ::close(hold[1]);
            CMultiCheck check;
            const char answer = check.check(name) ? '1' : '0';
            (void)!::write(result[1], &answer, 1);
            char c;
            (void)!::read(hold[0], &c, 1); // returns when the parent closes its end
            ::_exit(0);
        }
        ::close(result[1]);
        ::close(hold[0]);
        m_release = hold[1];
        char answer = '?';
        if (::read(result[0], &answer, 1) == 1)
            m_result = answer - '0';
        ::close(result[0]);
    }
    ~OtherProcess() { release(); }

    int result() const { return m_result; }
    bool started() const { return m_pid > 0; }

    // Ends the process and waits for it, so its lock is gone when this returns.
    void release()
    {
        if (m_release >= 0)
            ::close(m_release);
        m_release = -1;
        if (m_pid > 0)
            ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    int m_result = -1;
};

class CMultiCheckTest : public testing::Test
{
protected:
    void SetUp() override
    {
        // A private runtime folder keeps these locks away from any running node.
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        m_oldRuntime = old ? old : "";
        m_hadRuntime = old != nullptr;
        ::setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (m_hadRuntime)
            ::setenv("XDG_RUNTIME_DIR", m_oldRuntime.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

private:
    TempDir m_runtime;
    std::string m_oldRuntime;
    bool m_hadRuntime = false;
};

} // namespace

TEST_F(CMultiCheckTest, SecondProcessWithTheSameNameIsRefused)
{
    CMultiCheck mine;
    ASSERT_EQ(mine.check("パーティ one"), 1);
    EXPECT_EQ(mine.currentName(), "パーティ one");

    OtherProcess same("パーティ one");
    ASSERT_TRUE(same.started());
    EXPECT_EQ(same.result(), 0);
    OtherProcess different("party two");
    EXPECT_EQ(different.result(), 1);

    // Asking again for the name already held changes nothing.
    EXPECT_EQ(mine.check("パーティ one"), 1);
}

TEST_F(CMultiCheckTest, EmptyNameIsNeverGuarded)
{
    CMultiCheck mine;
    EXPECT_EQ(mine.check(""), 1);
    OtherProcess other("");
    EXPECT_EQ(other.result(), 1);
    EXPECT_EQ(mine.currentName(), "");
}

TEST_F(CMultiCheckTest, NameIsFreeAgainWhenTheHolderEnds)
{
    OtherProcess holder("party");
    ASSERT_EQ(holder.result(), 1);
    CMultiCheck mine;
    EXPECT_EQ(mine.check("party"), 0);
    EXPECT_EQ(mine.currentName(), "");
    holder.release();
    EXPECT_EQ(mine.check("party"), 1);
}

// Changing to a name that another process holds is refused, and the old name stays guarded.
TEST_F(CMultiCheckTest, RefusedChangeKeepsTheOldName)
{
    // The holder is forked first: a child forked later would share this process's lock
    // descriptor and keep "old" locked after this process let it go.
    OtherProcess holder("taken");
    ASSERT_EQ(holder.result(), 1);
    CMultiCheck mine;
    ASSERT_EQ(mine.check("old"), 1);

    EXPECT_EQ(mine.check("taken"), 0);
    EXPECT_EQ(mine.currentName(), "old");
    EXPECT_EQ(OtherProcess("old").result(), 0);

    // An accepted change lets the old name go.
    EXPECT_EQ(mine.check("new"), 1);
    EXPECT_EQ(OtherProcess("old").result(), 1);
    EXPECT_EQ(OtherProcess("new").result(), 0);
}
