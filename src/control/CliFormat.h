#pragma once

#include <QJsonObject>

#include <string>
#include <vector>

// How the command line shows the node's answers to people: aligned tables, sizes, rates and
// durations in short units, and one line per event.
namespace CliFormat {

// "1.5 MB", "312 KB", "17 B" (powers of 1024, as file managers show them).
std::string size(double bytes);
// "2.3 MB/s"; "-" for none.
std::string rate(const QJsonValue& bytesPerSecond);
// "1h02m", "3m05s", "42s"; "-" for none.
std::string duration(const QJsonValue& seconds);
// "42.1%", or the entry's state word when it is not downloading.
std::string progress(const QJsonObject& entry);

// Rows of cells as columns padded to their widest cell (counted in characters), two blanks
// apart; the last column is not padded.
std::string table(const std::vector<std::vector<std::string>>& rows);

std::string statusText(const QJsonObject& status);
std::string entriesTable(const QJsonObject& list);
// One line for an event of the node ("arrived  report.pdf from A (1.2 MB)").
std::string eventLine(const QJsonObject& event);

} // namespace CliFormat
