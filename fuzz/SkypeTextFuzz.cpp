// libFuzzer target over the readers of the messaging client's texts: any line, classified as a
// link text and as an application notification, then its lists split and parsed, must neither
// crash nor give a result that lies outside the text it was given.
#include "skype/SkypeNotice.h"
#include "skype/SkypeText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

void requireInside(std::string_view part, std::string_view whole)
{
    if (part.empty())
        return;
    if (part.data() < whole.data() || part.data() + part.size() > whole.data() + whole.size())
        std::abort();
}

void readList(std::string_view list, bool commas, bool withCount)
{
    std::vector<std::string_view> pieces;
    if (!skype::splitList(list, commas, pieces))
        return;
    if (pieces.size() > skype::kMaxListItems)
        std::abort();
    for (std::string_view piece : pieces) {
        requireInside(piece, list);
        skype::StreamItem item;
        if (skype::parseStreamItem(piece, withCount, item) &&
            (!skype::validSkypeId(item.id) || item.number < 0))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const skype::LinkNotice link = skype::classifyLinkText(text);
    requireInside(link.text, text);
    if (link.kind == skype::LinkNoticeKind::Users)
        readList(link.text, true, false);

    const skype::AppNotice app = skype::classifyAppNotification(text);
    requireInside(app.text, text);
    switch (app.kind) {
    case skype::AppNoticeKind::Streams:
        readList(app.text, true, false);
        break;
    case skype::AppNoticeKind::Received:
        readList(app.text, false, true);
        break;
    case skype::AppNoticeKind::Connectable:
    case skype::AppNoticeKind::Sending:
        readList(app.text, false, false);
        break;
    case skype::AppNoticeKind::SendLimit:
    case skype::AppNoticeKind::Ignored:
        break;
    }
    return 0;
}
