#include "app/CPostError.h"

#include "app/WindowMessages.h"
#include "platform/Diag.h"

CPostError* CPostError::instance()
{
    return plat::LiveInstance<CPostError>::get();
}

void CPostError::post(int kind)
{
    if (m_window)
        m_window.post(WM_POSTERROR, static_cast<std::uintptr_t>(kind), 0);
}

void CPostError::postDetail(const std::string& text)
{
    // The diagnostic output keeps what the status line showed.
    plat::diag("notice: %s\n", text.c_str());
    m_detail = text;
    if (m_window)
        m_window.post(WM_POSTERROR, 1, 1);
}
