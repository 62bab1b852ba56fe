#include "app/CPostError.h"

#include "app/WindowMessages.h"
#include "platform/Diag.h"
#include "platform/TextEscape.h"

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
    // Detail texts carry names that peers chose; none may steer what shows them (the status
    // line or the diagnostic output, which keeps what the status line showed).
    m_detail = plat::escapeControls(text);
    plat::diag("notice: %s\n", m_detail.c_str());
    if (m_window)
        m_window.post(WM_POSTERROR, 1, 1);
}
