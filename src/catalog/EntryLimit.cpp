#include "catalog/EntryLimit.h"

#include "platform/Diag.h"

namespace {

const char* const kCatalogFullText =
    "カタログの登録数が上限に達したため、他ノードからの新しいファイルを受け付けていません";

} // namespace

bool EntryLimit::roomFor(int count)
{
    // Said again only after a purge has clearly made room, not at every entry that comes and
    // goes at the limit.
    if (count < m_max - m_max / 10)
        m_said = false;
    if (count < m_max)
        return true;
    if (!m_said) {
        m_said = true;
        plat::diag("CCatalog: %d entries, new records from peers are refused\n", count);
        if (m_notice)
            m_notice(kCatalogFullText);
    }
    return false;
}
