#include "app/CPostError.h"

#include "app/WindowMessages.h"

#include <memory>

namespace {
std::unique_ptr<CPostError> g_instance;
}

CPostError* CPostError::instance()
{
    if (!g_instance)
        g_instance.reset(new CPostError);
    return g_instance.get();
}

void CPostError::destroyInstance()
{
    g_instance.reset();
}

void CPostError::post(int kind)
{
    if (m_window)
        m_window.post(WM_POSTERROR, static_cast<std::uintptr_t>(kind), 0);
}

void CPostError::postDetail(const std::string& text)
{
    m_detail = text;
    if (m_window)
        m_window.post(WM_POSTERROR, 1, 1);
}
