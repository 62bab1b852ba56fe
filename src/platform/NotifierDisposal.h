#pragma once

class QSocketNotifier;

namespace plat {

// Deletes the notifiers of a closing socket. A notifier that is emitting must not be deleted, and
// which one that is cannot be asked of Qt; so while any notification of the sockets sharing one
// disposal runs, notifiers go through deleteLater, otherwise they are deleted at once.
class NotifierDisposal
{
public:
    // Marks a notification as running for as long as it lives.
    class Scope
    {
    public:
        explicit Scope(NotifierDisposal& disposal) : m_disposal(disposal) { ++m_disposal.m_depth; }
        ~Scope() { --m_disposal.m_depth; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        NotifierDisposal& m_disposal;
    };

    // Switches the notifier off, cuts its connections and deletes it; null afterwards.
    void discard(QSocketNotifier*& notifier);

private:
    int m_depth = 0;
};

} // namespace plat
