#include "catalog/RecordRoles.h"

namespace catalog {

bool isOwnRecord(const CatalogRecord& r, const std::string& ownNode)
{
    const auto own = cp932Field(ownNode, RecordLayout::NodeNameSize);
    return own && *own == r.originNodeCp932();
}

bool isManagementFileName(const std::string& fileName)
{
    return fileName.size() >= 4 && fileName.compare(fileName.size() - 4, 4, ".nod") == 0;
}

} // namespace catalog
