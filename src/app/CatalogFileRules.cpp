#include "app/CatalogFileRules.h"

#include "app/NameRules.h"
#include "platform/Cp932.h"
#include "platform/Files.h"
#include "platform/FindRecord.h"

namespace {
const char* const kShortcutSuffix = "へのショートカット";
}

CatalogFileRules::Check CatalogFileRules::check(const std::string& path)
{
    plat::FindRecord status;
    const plat::FindResult found = plat::statFindRecord(path, status);
    if (found != plat::FindResult::Ok && found != plat::FindResult::BadName)
        return Check::NoStatus;
    const std::uint32_t attributes = status.attributes();
    if (attributes != 0 && attributes != plat::FindAttr::Archive)
        return Check::BadKind;
    if (status.size() == 0)
        return Check::Empty;
    return found == plat::FindResult::BadName ? Check::BadName : Check::Ok;
}

const char* CatalogFileRules::refusalText(Check check)
{
    switch (check) {
    case Check::NoStatus:
        return kNoStatus;
    case Check::BadKind:
        return kBadKind;
    case Check::Empty:
        return kEmpty;
    case Check::Ok:
    case Check::BadName:
        break;
    }
    return nullptr;
}

std::string CatalogFileRules::sendableName(const std::string& path)
{
    const std::string name = names::cp932Substitute(plat::baseName(path));
    const auto cp932 = plat::toCp932(name);
    return cp932 && cp932->size() < plat::FindLayout::FileNameSize ? name : std::string();
}

std::string CatalogFileRules::shortcutName(const std::string& fileName)
{
    return fileName + kShortcutSuffix + ".lnk";
}
