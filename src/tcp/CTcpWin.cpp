#include "tcp/CTcpWin.h"

#include "app/WindowMessages.h"
#include "tcp/CTcpWinListener.h"

CTcpWin::CTcpWin(CTcpWinListener* listener)
    : m_window([listener](const plat::WindowMessage& m) {
          if (m.msg == WM_TCPRECEIVED && listener)
              listener->onTcpWinMessage(m.wparam, m.lparam);
      })
{
}

void CTcpWin::postReceived()
{
    m_window.post(WM_TCPRECEIVED, 0, 0);
}
