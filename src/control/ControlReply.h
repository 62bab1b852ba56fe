#pragma once

#include <QJsonObject>

#include <string>
#include <vector>

// The replies of the control protocol (see ControlService.h):
//   {"ok":true,"result":{...}}
//   {"ok":false,"error":{"text":..., "pattern":..., "args":[...], "kind":..., "flags":[...]}}
// "text" is the message as the window shows it (Japanese, values filled in); "pattern" and
// "args" let a client show the same message in its user's language ("%1".. or "%s"/"%d" in
// order). "kind": "refused" (the window's rules said no), "question" (the window would ask;
// "flags" name the options that answer it), "usage" (a malformed request), "failed".
namespace ControlReply {

QJsonObject ok(const QJsonObject& result = {});
QJsonObject refused(const std::string& pattern, const std::vector<std::string>& args = {});
QJsonObject question(const std::string& pattern, const std::vector<std::string>& args,
                     const std::vector<std::string>& flags);
QJsonObject usage(const std::string& text);
QJsonObject failed(const std::string& text);

// pattern with its values put in: "%1".. by number, "%s" and "%d" in order.
std::string fill(const std::string& pattern, const std::vector<std::string>& args);

QString qs(const std::string& text);

} // namespace ControlReply
