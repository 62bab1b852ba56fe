#include "exchange/NodeContext.h"

#include "app/CPostError.h"

void NodeContext::post(int kind) const
{
    if (m_notices)
        m_notices->post(kind);
}

void NodeContext::postDetail(const std::string& text) const
{
    if (m_notices)
        m_notices->postDetail(text);
}
