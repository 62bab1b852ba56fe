#include "node/CNodeInfo.h"

#include <cstdio>

std::string presenceText(int presence)
{
    switch (presence) {
    case CNodeInfo::PRESENCE_CONTACTABLE:
        return "在席(コンタクト可)";
    case CNodeInfo::PRESENCE_NOT_CONTACTABLE:
        return "在席(コンタクト不可)";
    case CNodeInfo::PRESENCE_ABSENT:
        return "不在";
    default:
        return {};
    }
}

std::string timeStampText(const plat::SystemTime& t)
{
    char text[48];
    std::snprintf(text, sizeof text, "%4d/%2d/%2d %02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute);
    return text;
}
