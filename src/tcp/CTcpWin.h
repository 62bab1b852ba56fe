#pragma once

#include "platform/EventLoop.h"

class CTcpWinListener;

// The hidden window of one TCP connection. The connection posts message 1224 to it from its
// receive notification, so that the received messages are processed after the notification has
// returned; every other message is ignored. Messages still queued when the window is destroyed
// are dropped.
class CTcpWin
{
public:
    explicit CTcpWin(CTcpWinListener* listener);
    CTcpWin(const CTcpWin&) = delete;
    CTcpWin& operator=(const CTcpWin&) = delete;

    // Posts message 1224; the listener sees it on a later turn of the event loop.
    void postReceived();
    plat::WindowHandle handle() const { return m_window.handle(); }

private:
    plat::MessageWindow m_window;
};
