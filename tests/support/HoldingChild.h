#pragma once

#include <functional>
#include <string>

#include <sys/types.h>

// Another process that takes hold of something (keeps a file open, holds a lock) and keeps it
// while the test looks from the outside. The constructor returns once the child has taken hold
// and fails the test if it could not.
class HoldingChild
{
public:
    // Called in the child with what it took hold of; returns when the parent releases it.
    using Hold = std::function<void(bool tookHold)>;

    // take runs in the child: it takes what the test needs, then calls hold while that still
    // lives (a lock object on its stack, an open descriptor).
    explicit HoldingChild(const std::function<void(const Hold& hold)>& take);
    // A child that keeps path open with the given open(2) flags.
    HoldingChild(const std::string& path, int flags);
    ~HoldingChild();
    HoldingChild(const HoldingChild&) = delete;
    HoldingChild& operator=(const HoldingChild&) = delete;

    // Lets the child end and waits for it; what it held is free afterwards.
    void release();

private:
    pid_t m_pid = -1;
    int m_release = -1;
};
