#pragma once

namespace plat {

// The object behind a class's process-wide instance(): the object registers itself, as a member,
// for as long as it lives, and instance() hands out the registered object or nothing. Nothing is
// ever created on demand, so once the owner (the node) has taken its parts down no caller gets a
// fresh, unconfigured one: callers handle the null.
// A second object of the class takes the place of the first; when either ends there is none.
template <class T> class LiveInstance
{
public:
    explicit LiveInstance(T* self) : m_self(self) { s_current = self; }
    ~LiveInstance()
    {
        if (s_current == m_self)
            s_current = nullptr;
    }
    LiveInstance(const LiveInstance&) = delete;
    LiveInstance& operator=(const LiveInstance&) = delete;

    static T* get() { return s_current; }

private:
    T* m_self;
    inline static T* s_current = nullptr;
};

} // namespace plat
