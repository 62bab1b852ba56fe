#pragma once

#include <strophe.h>

#include <memory>
#include <string>

// Small helpers over libstrophe's stanzas: an owning pointer and bounded reads that never hand
// out a null string.
namespace xs {

struct Release
{
    void operator()(xmpp_stanza_t* s) const noexcept
    {
        if (s)
            xmpp_stanza_release(s);
    }
};
using Stanza = std::unique_ptr<xmpp_stanza_t, Release>;

inline constexpr const char* NsIbb = "http://jabber.org/protocol/ibb";
inline constexpr const char* NsDiscoInfo = "http://jabber.org/protocol/disco#info";
inline constexpr const char* NsRoster = "jabber:iq:roster";
inline constexpr const char* NsPing = "urn:xmpp:ping";
// The application a stream is opened for travels in the IBB open element.
inline constexpr const char* NsPavo = "urn:x-pavo:messenger:0";
// A client advertises each application its programs created as a disco feature.
inline constexpr const char* AppFeaturePrefix = "urn:x-pavo:messenger:0:app:";

Stanza element(xmpp_ctx_t* ctx, const char* name, const char* ns = nullptr);
Stanza iq(xmpp_ctx_t* ctx, const char* type, const std::string& id, const std::string& to);
// parent takes child over.
void add(xmpp_stanza_t* parent, Stanza child);
void addText(xmpp_ctx_t* ctx, xmpp_stanza_t* parent, const std::string& text);
// An empty result, or an error of the given condition, answering an IQ request.
Stanza result(xmpp_stanza_t* request);
Stanza error(xmpp_stanza_t* request, const char* type, const char* condition);

// "" when absent.
std::string attr(xmpp_stanza_t* s, const char* name);
std::string name(xmpp_stanza_t* s);
// The element's text (its text children joined); "" when none.
std::string text(xmpp_ctx_t* ctx, xmpp_stanza_t* s);
xmpp_stanza_t* child(xmpp_stanza_t* s, const char* name, const char* ns);
// The first child element; nullptr when none.
xmpp_stanza_t* firstElement(xmpp_stanza_t* s);
// The element's namespace; "" when none (or no element).
std::string nsOf(xmpp_stanza_t* s);

std::string bare(const std::string& jid);
std::string resource(const std::string& jid);

} // namespace xs
