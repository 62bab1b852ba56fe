#pragma once

#include "platform/EventLoop.h"
#include "platform/LiveInstance.h"

#include <string>

// Lets code inside a socket or stream callback hand a connection notice to the node later,
// outside the callback, through a WM_POSTERROR message posted to the node's hidden window; the
// node passes it on to whoever shows it (PavoNode::Display). Notices posted while no window is
// set are lost. The node's parts post through their node (NodeContext::post).
class CPostError
{
public:
    // Kinds posted with a second parameter of 0.
    static constexpr int kPartyMismatch = 1;
    static constexpr int kFrameError = 3;

    // The node's poster while it lives (the last one built), or nullptr: a notice posted while
    // no node runs has nobody to reach.
    static CPostError* instance();

    CPostError() = default;
    CPostError(const CPostError&) = delete;
    CPostError& operator=(const CPostError&) = delete;

    void setWindow(plat::WindowHandle window) { m_window = std::move(window); }
    const plat::WindowHandle& window() const { return m_window; }

    // Posts WM_POSTERROR with (kind, 0).
    void post(int kind);
    // Stores text as the detail text and posts WM_POSTERROR with (1, 1).
    void postDetail(const std::string& text);
    const std::string& detailText() const { return m_detail; }

private:
    plat::WindowHandle m_window;
    std::string m_detail;
    plat::LiveInstance<CPostError> m_live{this};
};
