#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace plat {
class NamedLock;
}

// Guards a party name against a second process: while this process holds the name, another
// process asking for it is refused. One instance per process; its lock lives until the process
// ends or another name is taken.
class CMultiCheck
{
public:
    CMultiCheck();
    ~CMultiCheck();
    CMultiCheck(const CMultiCheck&) = delete;
    CMultiCheck& operator=(const CMultiCheck&) = delete;

    static CMultiCheck& instance();

    // 1 when this process may run under name (and now holds it), 0 when another process holds
    // it or the lock cannot be made. An empty name is never guarded.
    int check(std::string_view name);

    const std::string& currentName() const { return m_name; }
    // Why the last refused check could not make the lock (no private folder for it, ...);
    // empty when another process holds the name.
    const std::string& failure() const { return m_failure; }

private:
    std::string m_name;
    std::string m_failure;
    std::unique_ptr<plat::NamedLock> m_lock;
};
