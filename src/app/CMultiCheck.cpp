#include "app/CMultiCheck.h"

#include "platform/NamedLock.h"

CMultiCheck::CMultiCheck() = default;
CMultiCheck::~CMultiCheck() = default;

CMultiCheck& CMultiCheck::instance()
{
    static CMultiCheck check;
    return check;
}

int CMultiCheck::check(std::string_view name)
{
    if (name.empty() || name == m_name)
        return 1;
    // The new lock is taken before the old one is let go: when the new name is refused, the
    // name this process already runs under stays guarded.
    auto lock = std::make_unique<plat::NamedLock>();
    m_failure.clear();
    if (!lock->acquire(name)) {
        m_failure = lock->failure();
        return 0;
    }
    m_lock = std::move(lock);
    m_name = std::string(name);
    return 1;
}
