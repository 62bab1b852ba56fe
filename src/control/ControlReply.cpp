#include "control/ControlReply.h"

#include "app/SystemPropertyRules.h"

#include <QJsonArray>

namespace ControlReply {

namespace {
QJsonArray array(const std::vector<std::string>& texts)
{
    QJsonArray out;
    for (const std::string& t : texts)
        out.append(qs(t));
    return out;
}

QJsonObject error(const char* kind, const std::string& pattern,
                  const std::vector<std::string>& args)
{
    QJsonObject e;
    e[QStringLiteral("kind")] = QString::fromLatin1(kind);
    e[QStringLiteral("text")] = qs(fill(pattern, args));
    e[QStringLiteral("pattern")] = qs(pattern);
    e[QStringLiteral("args")] = array(args);
    QJsonObject reply;
    reply[QStringLiteral("ok")] = false;
    reply[QStringLiteral("error")] = e;
    return reply;
}
} // namespace

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string fill(const std::string& pattern, const std::vector<std::string>& args)
{
    std::string numbered = SystemPropertyRules::fill(pattern, args);
    if (numbered != pattern)
        return numbered;
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && (c == 's' || c == 'd') && next < args.size()) {
            out += args[next++];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

QJsonObject ok(const QJsonObject& result)
{
    QJsonObject reply;
    reply[QStringLiteral("ok")] = true;
    reply[QStringLiteral("result")] = result;
    return reply;
}

QJsonObject refused(const std::string& pattern, const std::vector<std::string>& args)
{
    return error("refused", pattern, args);
}

QJsonObject question(const std::string& pattern, const std::vector<std::string>& args,
                     const std::vector<std::string>& flags)
{
    QJsonObject reply = error("question", pattern, args);
    QJsonObject e = reply[QStringLiteral("error")].toObject();
    e[QStringLiteral("flags")] = array(flags);
    reply[QStringLiteral("error")] = e;
    return reply;
}

QJsonObject usage(const std::string& text)
{
    return error("usage", text, {});
}

QJsonObject failed(const std::string& text)
{
    return error("failed", text, {});
}

} // namespace ControlReply
