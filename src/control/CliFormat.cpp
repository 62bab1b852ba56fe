#include "control/CliFormat.h"

#include <QJsonArray>

#include <cmath>
#include <cstdio>

namespace CliFormat {

namespace {
QString key(const char* name)
{
    return QString::fromLatin1(name);
}

std::string str(const QJsonObject& o, const char* name)
{
    return o.value(key(name)).toString().toStdString();
}

std::size_t width(const std::string& utf8)
{
    std::size_t n = 0;
    for (const char c : utf8)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++n;
    return n;
}
} // namespace

std::string size(double bytes)
{
    const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

std::string rate(const QJsonValue& bytesPerSecond)
{
    if (!bytesPerSecond.isDouble())
        return "-";
    return size(bytesPerSecond.toDouble()) + "/s";
}

std::string duration(const QJsonValue& seconds)
{
    if (!seconds.isDouble())
        return "-";
    const long s = std::lround(seconds.toDouble());
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ldh%02ldm", s / 3600, (s % 3600) / 60);
    else if (s >= 60)
        std::snprintf(text, sizeof text, "%ldm%02lds", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lds", s);
    return text;
}

std::string progress(const QJsonObject& entry)
{
    const std::string state = str(entry, "state");
    if (state != "downloading" || !entry.value(key("progress")).isDouble())
        return state;
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", entry.value(key("progress")).toDouble() * 100);
    return text;
}

std::string table(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths.resize(std::max(widths.size(), row.size()), 0);
            widths[i] = std::max(widths[i], width(row[i]));
        }
    std::string out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size())
                line += std::string(widths[i] - width(row[i]) + 2, ' ');
        }
        out += line + "\n";
    }
    return out;
}

std::string statusText(const QJsonObject& s)
{
    std::string out = "party:     " + str(s, "party") + "\n" + "node:      " + str(s, "node") +
                      "\n" +
                      "state:     " + (s.value(key("online")).toBool() ? "on-line" : "off-line");
    if (s.value(key("listening")).toBool())
        out += ", listening on port " + std::to_string(s.value(key("port")).toInt());
    out += "\nfolder:    " + str(s, "folder") + "\n";
    out += "entries:   " + std::to_string(s.value(key("entries")).toInt()) + ", downloading at " +
           rate(s.value(key("download_rate"))) + "\n";
    const QJsonArray connections = s.value(key("connections")).toArray();
    if (connections.isEmpty())
        return out + "connections: none\n";
    std::vector<std::vector<std::string>> rows{
        {"NAME", "METHOD", "ADDRESS", "STATE", "PATH", "RATE", "UPLOAD", "COMMENT"}};
    for (const QJsonValue& v : connections) {
        const QJsonObject c = v.toObject();
        rows.push_back({str(c, "name"), str(c, "method"), str(c, "address"), str(c, "state"),
                        c.value(key("path")).isString() ? str(c, "path") : "-",
                        rate(c.value(key("rate"))), rate(c.value(key("upload_rate"))),
                        str(c, "comment")});
    }
    return out + "\n" + table(rows);
}

std::string entriesTable(const QJsonObject& list)
{
    std::vector<std::vector<std::string>> rows{
        {"ORIGIN", "FILE", "SIZE", "PROGRESS", "RATE", "LEFT", "EXPIRES"}};
    for (const QJsonValue& v : list.value(key("entries")).toArray()) {
        const QJsonObject e = v.toObject();
        rows.push_back({str(e, "origin"), str(e, "file"), size(e.value(key("size")).toDouble()),
                        progress(e), rate(e.value(key("rate"))), duration(e.value(key("eta"))),
                        str(e, "expires")});
    }
    return table(rows);
}

std::string eventLine(const QJsonObject& e)
{
    const std::string kind = str(e, "event");
    if (kind == "connected" || kind == "disconnected")
        return kind + "  " + str(e, "name") + " (" + str(e, "address") + ")";
    return kind + "  " + str(e, "file") + " from " + str(e, "origin") + " (" +
           size(e.value(key("size")).toDouble()) + ")";
}

} // namespace CliFormat
