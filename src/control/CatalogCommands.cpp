#include "control/CatalogCommands.h"

#include "app/CatalogFileRules.h"
#include "app/NameRules.h"
#include "app/NodeSettings.h"
#include "app/ShellUtil.h"
#include "catalog/CCatalog.h"
#include "catalog/RecordRoles.h"
#include "control/ControlReply.h"
#include "control/DownloadRate.h"
#include "platform/Files.h"
#include "platform/Shortcut.h"

#include <QJsonArray>

#include <cstdio>
#include <filesystem>

using ControlReply::qs;

namespace {
const char* const kNoSuchFile = "「%1」という登録はありません。";
const char* const kSeveralOrigins =
    "「%1」は複数のノードが登録しています（%2）。送信元ノードを指定してください。";
const char* const kNodeStopped = "ノードは終了処理中です。";

QString key(const char* name)
{
    return QString::fromLatin1(name);
}

std::string str(const QJsonObject& o, const char* name)
{
    return o.value(key(name)).toString().toStdString();
}

bool flag(const QJsonObject& o, const char* name)
{
    return o.value(key(name)).toBool(false);
}

std::string timeText(const plat::SystemTime& t, bool withTime)
{
    char text[40];
    if (withTime)
        std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
    else
        std::snprintf(text, sizeof text, "%04u-%02u-%02u", t.year, t.month, t.day);
    return text;
}

// The window's status column in words a script can compare.
const char* stateOf(const CatalogRecord& r, bool own)
{
    if (r.kind() == catalog::RecordKind::Deleted)
        return "deleted";
    if (r.completeFlag() == 1)
        return own ? (r.linkFlag() == 1 ? "link" : "own") : "complete";
    if (r.fileDescription().sizeHigh() != 0)
        return "over-2g";
    return r.fileSize() == 0 ? "damaged" : "downloading";
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

QJsonObject item(const std::string& path, const char* action)
{
    QJsonObject o;
    o[key("path")] = qs(path);
    o[key("action")] = key(action);
    return o;
}

QJsonObject refusedItem(const std::string& path, const QJsonObject& refusal)
{
    QJsonObject o = item(path, "refused");
    o[key("error")] = refusal[key("error")];
    return o;
}
} // namespace

CatalogCommands::CatalogCommands(CCatalog* catalog, NodeSettings& settings,
                                 const DownloadRate& rates)
    : m_catalog(catalog), m_settings(settings), m_rates(rates)
{
}

bool CatalogCommands::isOwn(const CatalogRecord& record) const
{
    return catalog::isOwnRecord(record, m_settings.nodeName());
}

QJsonObject CatalogCommands::entryJson(const CatalogRecord& r) const
{
    const bool own = isOwn(r);
    const plat::FindRecord description = r.fileDescription();
    const std::uint64_t size = (std::uint64_t(description.sizeHigh()) << 32) | r.fileSize();
    QJsonObject o;
    o[key("origin")] = qs(r.originNodeUtf8());
    o[key("file")] = qs(r.fileNameUtf8());
    o[key("size")] = double(size);
    o[key("received")] = double(r.completeFlag() == 1 ? r.fileSize() : r.bytesReceived());
    o[key("state")] = key(stateOf(r, own));
    o[key("own")] = own;
    o[key("management")] = catalog::isManagementFileName(r.fileNameUtf8());
    o[key("registered")] = qs(timeText(r.registrationTime(), true));
    o[key("expires")] = qs(timeText(r.expiry(), false));
    const bool downloading = std::string(stateOf(r, own)) == "downloading";
    o[key("progress")] = r.completeFlag() == 1 ? 1.0
                         : downloading && r.bytesReceived() <= r.fileSize()
                             ? double(r.bytesReceived()) / r.fileSize()
                             : QJsonValue();
    const auto estimate = downloading ? m_rates.estimate(r) : std::nullopt;
    o[key("rate")] = estimate ? QJsonValue(estimate->bytesPerSecond) : QJsonValue();
    o[key("eta")] =
        estimate && estimate->secondsLeft ? QJsonValue(*estimate->secondsLeft) : QJsonValue();
    return o;
}

QJsonObject CatalogCommands::list(const QJsonObject& request) const
{
    if (!m_catalog)
        return ControlReply::failed(kNodeStopped);
    const std::string origin = str(request, "origin");
    const std::string name = str(request, "file");
    QJsonArray entries;
    for (int i = 0; i < m_catalog->count(); ++i) {
        const CatalogRecord r = m_catalog->getRecord(i);
        const bool own = isOwn(r);
        const bool complete = r.completeFlag() == 1;
        if ((!origin.empty() && r.originNodeUtf8() != origin) ||
            (!name.empty() && r.fileNameUtf8() != name) || (flag(request, "own") && !own) ||
            (flag(request, "received") && own) || (flag(request, "incomplete") && complete) ||
            (flag(request, "complete") && !complete) ||
            (!flag(request, "deleted") && r.kind() == catalog::RecordKind::Deleted))
            continue;
        entries.append(entryJson(r));
    }
    QJsonObject result;
    result[key("entries")] = entries;
    return ControlReply::ok(result);
}

std::optional<CatalogRecord> CatalogCommands::find(const QJsonObject& request,
                                                   QJsonObject* reply) const
{
    if (!m_catalog) {
        *reply = ControlReply::failed(kNodeStopped);
        return std::nullopt;
    }
    const std::string name = str(request, "file");
    const std::string origin = str(request, "origin");
    std::optional<CatalogRecord> found;
    std::string origins;
    for (int i = 0; i < m_catalog->count(); ++i) {
        const CatalogRecord r = m_catalog->getRecord(i);
        if (r.kind() == catalog::RecordKind::Deleted || r.fileNameUtf8() != name ||
            (!origin.empty() && r.originNodeUtf8() != origin))
            continue;
        origins += (origins.empty() ? "" : ", ") + r.originNodeUtf8();
        if (found && found->originNodeUtf8() != r.originNodeUtf8()) {
            *reply = ControlReply::refused(kSeveralOrigins, {name, origins});
            return std::nullopt;
        }
        found = r;
    }
    if (!found)
        *reply = ControlReply::refused(kNoSuchFile, {name});
    return found;
}

QJsonObject CatalogCommands::add(const QJsonObject& request) const
{
    const bool copy = str(request, "method") == "copy";
    const bool rename = flag(request, "rename");
    QJsonArray items;
    for (const QJsonValue& path : request.value(key("paths")).toArray())
        items.append(addOne(path.toString().toStdString(), copy, rename));
    QJsonObject result;
    result[key("items")] = items;
    return ControlReply::ok(result);
}

// One file as the window takes a dropped one: refused as the window refuses it; a shortcut file
// is copied as it is; a name CP932 cannot hold is copied under a name that replaces those
// characters when the request allows it ("rename"), which is the window's question.
QJsonObject CatalogCommands::addOne(const std::string& path, bool copy, bool rename) const
{
    using Check = CatalogFileRules::Check;
    const Check check = CatalogFileRules::check(path);
    if (const char* refusal = CatalogFileRules::refusalText(check))
        return refusedItem(path, ControlReply::refused(refusal));
    const std::string send = m_settings.getSendFolder();
    const std::string name(plat::baseName(path));
    if (check == Check::BadName) {
        const std::string renamed = CatalogFileRules::sendableName(path);
        if (renamed.empty() || names::unwritableList(name).empty())
            return refusedItem(path, ControlReply::refused(CatalogFileRules::kNameTooLong));
        if (!rename)
            return refusedItem(path,
                               ControlReply::question(CatalogFileRules::kUnsendableOne,
                                                      {name, names::unwritableList(name), renamed},
                                                      {"--rename"}));
        QJsonObject o = item(path, "copy");
        o[key("to")] = qs(plat::joinPath(send, renamed));
        return o;
    }
    if (copy || plat::isShortcutName(path)) {
        QJsonObject o = item(path, "copy");
        o[key("to")] = qs(plat::joinPath(send, name));
        return o;
    }
    const std::string link = plat::joinPath(send, CatalogFileRules::shortcutName(name));
    std::error_code error;
    if (std::filesystem::is_symlink(link, error) &&
        std::filesystem::read_symlink(link, error) == std::filesystem::path(path)) {
        QJsonObject o = item(path, "already");
        o[key("text")] = qs(ControlReply::fill(CatalogFileRules::kAlreadyRegistered, {name}));
        return o;
    }
    if (!createShortcut(folderOf(path), link, path))
        return refusedItem(path, ControlReply::refused(CatalogFileRules::kShortcutFailed));
    QJsonObject o = item(path, "link");
    o[key("to")] = qs(link);
    return o;
}

QJsonObject CatalogCommands::remove(const QJsonObject& request) const
{
    QJsonObject reply;
    std::optional<CatalogRecord> entry = find(request, &reply);
    if (!entry)
        return reply;
    const std::string name = entry->fileNameUtf8();
    const bool force = flag(request, "force");
    const bool management = catalog::isManagementFileName(name);
    if (management && !force)
        return ControlReply::question(CatalogFileRules::kForceManagement, {}, {"--force"});
    bool everywhere = false;
    if (isOwn(*entry)) {
        everywhere = flag(request, "everywhere");
        if (!everywhere && !flag(request, "here"))
            return ControlReply::question(CatalogFileRules::kDeleteEverywhere, {},
                                          {"--everywhere", "--here"});
    } else if (!force && !management) {
        return ControlReply::question(CatalogFileRules::kForceOther, {}, {"--force"});
    }
    entry->setKind(catalog::RecordKind::Deleted);
    if (everywhere)
        m_catalog->deleteEverywhere(*entry);
    else
        m_catalog->deleteHere(*entry);
    QJsonObject result = entryJson(*entry);
    result[key("everywhere")] = everywhere;
    return ControlReply::ok(result);
}

QJsonObject CatalogCommands::get(const QJsonObject& request) const
{
    QJsonObject reply;
    const std::optional<CatalogRecord> entry = find(request, &reply);
    if (!entry)
        return reply;
    if (catalog::isManagementFileName(entry->fileNameUtf8()))
        return ControlReply::refused(CatalogFileRules::kManagementTakeOut);
    if (isOwn(*entry))
        return ControlReply::refused(CatalogFileRules::kOwnFile);
    if (entry->completeFlag() != 1)
        return ControlReply::refused(CatalogFileRules::kNotReady);
    const std::string from = m_catalog->contentPath(*entry);
    if (from.empty() || !plat::fileExists(from))
        return ControlReply::failed(CatalogFileRules::kNotOnThisNode);
    QJsonObject result = entryJson(*entry);
    result[key("from")] = qs(from);
    return ControlReply::ok(result);
}
