#include "wire/RecordBuilder.h"

#include "platform/Diag.h"
#include "platform/LocalTime.h"

#include <cstdint>

namespace catalog {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

const char* kindName(std::uint32_t kind)
{
    switch (kind) {
    case RecordKind::New:
        return "new";
    case RecordKind::Changed:
        return "changed";
    case RecordKind::Deleted:
        return "deleted";
    }
    return "?";
}

// Registration time plus limitDay days, as local time with milliseconds 0; all zero when that
// moment cannot be expressed (the record then simply carries no expiry).
plat::SystemTime expiryOf(const WallClock& now, int limitDay)
{
    const std::int64_t seconds = static_cast<std::int64_t>(now.seconds) +
                                 static_cast<std::int64_t>(limitDay) * kSecondsPerDay;
    const auto local = plat::localFromUnix(static_cast<std::time_t>(seconds), 0);
    return local ? *local : plat::SystemTime{};
}

std::optional<CatalogRecord> build(std::uint32_t kind, const plat::FindRecord& description,
                                   const RegistrationContext& context)
{
    const std::string name = description.nameUtf8();
    // The 32-bit size is what every transfer reads; a larger file would be announced with a
    // size its peers can never fetch correctly.
    if (kind != RecordKind::Deleted && description.sizeHigh() != 0) {
        plat::diag("makeRecord(%s): \"%s\" is 4 GiB or larger, not registered\n", kindName(kind),
                   name.c_str());
        return std::nullopt;
    }
    const auto registered = plat::localFromUnix(context.now.seconds, context.now.milliseconds);
    if (!registered) {
        plat::diag("makeRecord(%s): the clock cannot be read as local time\n", kindName(kind));
        return std::nullopt;
    }

    CatalogRecord r;
    r.setRecordLength(CatalogRecord::Size);
    r.setRecordTag(RecordLayout::TagValue);
    r.setPendingFlag(1);
    r.setKind(kind);
    r.setFileDescription(description);
    if (!r.setOriginNodeUtf8(context.nodeName) || !r.setPartyNameUtf8(context.partyName)) {
        plat::diag("makeRecord(%s): node \"%s\" or party \"%s\" cannot be written in CP932\n",
                   kindName(kind), context.nodeName.c_str(), context.partyName.c_str());
        return std::nullopt;
    }
    r.setRegistrationTime(*registered);
    r.setExpiry(expiryOf(context.now, context.limitDay));
    // Names that could not safely name a file on a peer, an empty node or party name: every
    // peer's catalog would refuse the record, so it is not built at all.
    if (!isValidRecord(r)) {
        plat::diag("makeRecord(%s): \"%s\" from node \"%s\" of party \"%s\" cannot be registered\n",
                   kindName(kind), name.c_str(), context.nodeName.c_str(),
                   context.partyName.c_str());
        return std::nullopt;
    }
    return r;
}

} // namespace

std::optional<CatalogRecord> makeNewRecord(const plat::FindRecord& description,
                                           const RegistrationContext& context)
{
    return build(RecordKind::New, description, context);
}

std::optional<CatalogRecord> makeChangedRecord(const plat::FindRecord& description,
                                               const RegistrationContext& context)
{
    return build(RecordKind::Changed, description, context);
}

std::optional<CatalogRecord> makeDeletedRecord(const plat::FindRecord& description,
                                               const RegistrationContext& context)
{
    return build(RecordKind::Deleted, description, context);
}

} // namespace catalog
