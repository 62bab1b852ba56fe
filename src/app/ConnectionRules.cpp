#include "app/ConnectionRules.h"

#include "app/NameRules.h"

namespace {
const char* const kNoHost = "ホスト名を入力してください";
const char* const kNoNodeName = "接続先のノード名称を設定してください.";
const char* const kNoSkypeId = "Skpeコンタクト名を入力（選択）してください";
const char* const kNodeNameSpace = "ノード名にスペースを含む名前は設定できません。";
const char* const kNodeNameChars = "ノード名に使用できない文字が含まれています。";
const char* const kNodeNameLength =
    "接続先のノード名称は全角15文字・半角31文字以内で設定してください。";
} // namespace

std::string ConnectionRules::check(bool tcp, const std::string& host, const std::string& nodeName,
                                   const std::string& skypeId)
{
    if (tcp && host.empty())
        return kNoHost;
    if (tcp && nodeName.empty())
        return kNoNodeName;
    if (!tcp && skypeId.empty())
        return kNoSkypeId;
    return tcp ? checkNodeName(nodeName) : std::string();
}

std::string ConnectionRules::checkNodeName(const std::string& nodeName)
{
    if (nodeName.empty())
        return kNoNodeName;
    if (names::hasSpace(nodeName))
        return kNodeNameSpace;
    if (!names::isUsableNodeName(nodeName))
        return kNodeNameChars;
    if (names::limitLength(nodeName) > static_cast<std::size_t>(kMaxNodeNameBytes))
        return kNodeNameLength;
    return {};
}
