#include "XmppStanza.h"

#include <cctype>

namespace xs {

Stanza element(xmpp_ctx_t* ctx, const char* name, const char* ns)
{
    Stanza s(xmpp_stanza_new(ctx));
    xmpp_stanza_set_name(s.get(), name);
    if (ns)
        xmpp_stanza_set_ns(s.get(), ns);
    return s;
}

Stanza iq(xmpp_ctx_t* ctx, const char* type, const std::string& id, const std::string& to)
{
    Stanza s(xmpp_iq_new(ctx, type, id.c_str()));
    if (!to.empty())
        xmpp_stanza_set_to(s.get(), to.c_str());
    return s;
}

void add(xmpp_stanza_t* parent, Stanza child)
{
    xmpp_stanza_add_child_ex(parent, child.release(), 0);
}

void addText(xmpp_ctx_t* ctx, xmpp_stanza_t* parent, const std::string& text)
{
    Stanza t(xmpp_stanza_new(ctx));
    xmpp_stanza_set_text_with_size(t.get(), text.data(), text.size());
    add(parent, std::move(t));
}

Stanza result(xmpp_stanza_t* request)
{
    const char* from = xmpp_stanza_get_from(request);
    const char* id = xmpp_stanza_get_id(request);
    return iq(xmpp_stanza_get_context(request), "result", id ? id : "", from ? from : "");
}

Stanza error(xmpp_stanza_t* request, const char* type, const char* condition)
{
    xmpp_ctx_t* ctx = xmpp_stanza_get_context(request);
    Stanza answer = result(request);
    xmpp_stanza_set_type(answer.get(), "error");
    Stanza e = element(ctx, "error");
    xmpp_stanza_set_attribute(e.get(), "type", type);
    add(e.get(), element(ctx, condition, "urn:ietf:params:xml:ns:xmpp-stanzas"));
    add(answer.get(), std::move(e));
    return answer;
}

std::string attr(xmpp_stanza_t* s, const char* name)
{
    const char* v = s ? xmpp_stanza_get_attribute(s, name) : nullptr;
    return v ? std::string(v) : std::string();
}

std::string name(xmpp_stanza_t* s)
{
    const char* v = s ? xmpp_stanza_get_name(s) : nullptr;
    return v ? std::string(v) : std::string();
}

std::string text(xmpp_ctx_t* ctx, xmpp_stanza_t* s)
{
    char* t = s ? xmpp_stanza_get_text(s) : nullptr;
    if (!t)
        return {};
    std::string out(t);
    xmpp_free(ctx, t);
    return out;
}

xmpp_stanza_t* child(xmpp_stanza_t* s, const char* name, const char* ns)
{
    return s ? xmpp_stanza_get_child_by_name_and_ns(s, name, ns) : nullptr;
}

std::string bare(const std::string& jid)
{
    std::string out = jid.substr(0, jid.find('/'));
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string resource(const std::string& jid)
{
    const std::size_t slash = jid.find('/');
    return slash == std::string::npos ? std::string() : jid.substr(slash + 1);
}

xmpp_stanza_t* firstElement(xmpp_stanza_t* s)
{
    for (xmpp_stanza_t* c = xmpp_stanza_get_children(s); c; c = xmpp_stanza_get_next(c)) {
        if (xmpp_stanza_is_tag(c))
            return c;
    }
    return nullptr;
}

std::string nsOf(xmpp_stanza_t* s)
{
    const char* ns = s ? xmpp_stanza_get_ns(s) : nullptr;
    return ns ? std::string(ns) : std::string();
}

} // namespace xs
