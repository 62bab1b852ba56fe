#include "app/SystemPropertyRules.h"

#include "app/NameRules.h"

namespace {
const char* const kNoParty = "パーティ名が設定されていません。";
const char* const kPartySpace = "パーティ名にスペースを含む名前は設定できません。";
const char* const kPartyChars = "パーティ名に使用できない文字が含まれています。";
const char* const kNoNode = "ノード名が設定されていません。";
const char* const kNodeSpace = "ノード名にスペースを含む名前は設定できません。";
const char* const kNodeChars = "ノード名に使用できない文字が含まれています。";
const char* const kLimitRange = "有効期限は1日から36500日までの日数を設定してください。";
const char* const kPartyRunning = "パーティ名は既に実行中です。この名前は設定できません";
// A limit of CP932 bytes, counted as the user can count: half-width characters are one byte,
// full-width ones two.
const char* const kTooLong = "全角%1文字・半角%2文字以内で入力してください。";
const char* const kPortRange = "ポート番号は1から65535までの数を設定してください。";

using Field = SystemPropertyRules::Field;
using Refusal = SystemPropertyRules::Refusal;

Refusal refuse(const char* pattern, Field field, std::vector<std::string> args = {})
{
    return Refusal{pattern, std::move(args), field};
}

Refusal tooLong(int limit, Field field)
{
    return refuse(kTooLong, field, {std::to_string(limit / 2), std::to_string(limit)});
}
} // namespace

std::string SystemPropertyRules::Refusal::text() const
{
    return fill(pattern, args);
}

std::string SystemPropertyRules::fill(const std::string& pattern,
                                      const std::vector<std::string>& args)
{
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next >= '1' && next <= '9' &&
            static_cast<std::size_t>(next - '1') < args.size()) {
            out += args[static_cast<std::size_t>(next - '1')];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

Refusal SystemPropertyRules::checkLengths(const std::string& party, const std::string& node)
{
    if (names::limitLength(node) > static_cast<std::size_t>(kMaxNodeName))
        return tooLong(kMaxNodeName, Field::Node);
    if (names::limitLength(party) > static_cast<std::size_t>(kMaxPartyName))
        return tooLong(kMaxPartyName, Field::Party);
    return {};
}

Refusal SystemPropertyRules::checkValues(const std::string& party, const std::string& node,
                                         int limitDay)
{
    if (party.empty())
        return refuse(kNoParty, Field::Party);
    if (names::hasSpace(party))
        return refuse(kPartySpace, Field::Party);
    if (!names::cp932Length(party)) // records and hellos carry the party name in CP932
        return refuse(kPartyChars, Field::Party);
    if (node.empty())
        return refuse(kNoNode, Field::Node);
    if (names::hasSpace(node))
        return refuse(kNodeSpace, Field::Node);
    if (!names::isUsableNodeName(node)) // peers name a receive folder after it
        return refuse(kNodeChars, Field::Node);
    if (limitDay < kMinLimitDay || limitDay > kMaxLimitDay)
        return refuse(kLimitRange, Field::LimitDay);
    return {};
}

Refusal SystemPropertyRules::checkPort(int port)
{
    if (port < kMinPort || port > kMaxPort)
        return refuse(kPortRange, Field::Port);
    return {};
}

Refusal SystemPropertyRules::partyRunning()
{
    return refuse(kPartyRunning, Field::None);
}
