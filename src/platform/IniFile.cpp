#include "platform/IniFile.h"

#include "platform/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The file is parsed afresh on every call: it is tiny, and another process (or the user's editor)
// may change it between two calls. Lines are kept byte for byte, with their own line ends, so a
// rewrite leaves everything it did not change exactly as it was, however strange.
namespace plat {

namespace {

// A file beyond this is not a settings file; reading stops there, and a write is refused,
// because rewriting it would throw the unread rest away.
constexpr std::size_t kMaxFileSize = 64u << 20;

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

struct Line
{
    std::string text; // without its line end
    std::string eol;  // "\n", "\r\n", or "" for a last line without one
};

enum class Kind
{
    Section,
    Key,
    Other,
};

struct Parsed
{
    Kind kind = Kind::Other;
    std::string_view name;
    std::string_view value;
};

enum class ReadResult
{
    Ok,
    Missing,
    Failed,
};

std::string_view trim(std::string_view s)
{
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Only ASCII letters fold; other bytes (UTF-8 names) must match exactly.
bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    }
    return true;
}

Parsed classify(std::string_view text, bool first)
{
    if (first && text.starts_with(kBom))
        text.remove_prefix(kBom.size());
    const std::string_view t = trim(text);
    Parsed p;
    if (t.empty() || t[0] == ';' || t[0] == '#')
        return p;
    if (t[0] == '[') {
        // A header without its closing bracket still starts a section, so that the keys below
        // it are never taken for keys of the section before.
        const std::string_view inner = t.substr(1);
        p.kind = Kind::Section;
        p.name = trim(inner.substr(0, inner.find(']')));
        return p;
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos)
        return p;
    p.name = trim(t.substr(0, eq));
    if (p.name.empty())
        return p;
    p.kind = Kind::Key;
    p.value = trim(t.substr(eq + 1));
    return p;
}

ReadResult readWhole(const std::string& path, std::string& out)
{
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? ReadResult::Missing : ReadResult::Failed;
    ReadResult result = ReadResult::Ok;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result = ReadResult::Failed;
            break;
        }
        if (n == 0)
            break;
        if (out.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
            out.append(buf, kMaxFileSize - out.size());
            result = ReadResult::Failed;
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return result;
}

std::vector<Line> splitLines(const std::string& content)
{
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < content.size()) {
        const auto nl = content.find('\n', pos);
        Line line;
        if (nl == std::string::npos) {
            line.text = content.substr(pos);
            pos = content.size();
        } else {
            std::size_t end = nl;
            if (end > pos && content[end - 1] == '\r') {
                --end;
                line.eol = "\r\n";
            } else {
                line.eol = "\n";
            }
            line.text = content.substr(pos, end - pos);
            pos = nl + 1;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

struct Location
{
    std::optional<std::size_t> key;     // the line of the key
    std::optional<std::size_t> section; // the header of the first matching section
    std::size_t insertAfter = 0;        // the last key (or the header) of that section
};

// The first matching key in any section of that name wins, as does the first such section
// for appending; reading and writing therefore always agree on which line is meant.
Location locate(const std::vector<Line>& lines, std::string_view section, std::string_view key)
{
    Location loc;
    bool inSection = false;
    bool inFirstSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Parsed p = classify(lines[i].text, i == 0);
        if (p.kind == Kind::Section) {
            inSection = sameName(p.name, section);
            inFirstSection = inSection && !loc.section;
            if (inFirstSection) {
                loc.section = i;
                loc.insertAfter = i;
            }
        } else if (p.kind == Kind::Key && inSection) {
            if (inFirstSection)
                loc.insertAfter = i;
            if (sameName(p.name, key)) {
                loc.key = i;
                return loc;
            }
        }
    }
    return loc;
}

std::optional<std::string> lookup(const std::string& path, std::string_view section,
                                  std::string_view key)
{
    std::string content;
    if (readWhole(path, content) == ReadResult::Missing)
        return std::nullopt;
    const auto lines = splitLines(content);
    const Location loc = locate(lines, trim(section), trim(key));
    if (!loc.key)
        return std::nullopt;
    return std::string(classify(lines[*loc.key].text, *loc.key == 0).value);
}

// A settings file reached through a symbolic link stays a link: the target is replaced.
std::string realTarget(const std::string& path)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string out = resolved;
    ::free(resolved);
    return out;
}

// The rewrite goes through a temporary file in the same folder, so that after a crash or power
// loss the file is either the old one or the new one, never a torn mix.
bool replaceAtomically(const std::string& path, const std::string& content)
{
    return AtomicFile::save(realTarget(path), content.data(), content.size());
}

bool hasAny(std::string_view s, std::string_view chars)
{
    return s.find_first_of(chars) != std::string_view::npos;
}

// Names that would read back as something else (a key that looks like a header or a comment,
// a line break that starts a new line) are refused rather than written.
bool validSection(std::string_view section)
{
    return !hasAny(section, std::string_view("]\r\n\0", 4));
}

bool validKey(std::string_view key)
{
    return !key.empty() && !hasAny(key, std::string_view("=\r\n\0", 4)) && key[0] != '[' &&
           key[0] != ';' && key[0] != '#';
}

// A value is one line: a line break in it would let it write keys or sections of its own.
std::string oneLine(std::string_view value)
{
    std::string out(value);
    for (char& c : out) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    return out;
}

std::string join(const std::vector<Line>& lines)
{
    std::string out;
    for (const Line& line : lines) {
        out += line.text;
        out += line.eol;
    }
    return out;
}

std::string lineEnd(const std::vector<Line>& lines)
{
    for (const Line& line : lines) {
        if (!line.eol.empty())
            return line.eol;
    }
    return "\n";
}

} // namespace

std::string IniFile::getString(std::string_view section, std::string_view key, std::string_view def,
                               std::size_t maxLen) const
{
    auto value = lookup(path_, section, key);
    if (!value)
        return std::string(def);
    if (value->size() > maxLen) {
        std::size_t cut = maxLen;
        for (int back = 0;
             back < 3 && cut > 0 && (static_cast<unsigned char>((*value)[cut]) & 0xC0) == 0x80;
             ++back)
            --cut;
        value->resize(cut);
    }
    return std::move(*value);
}

int IniFile::getInt(std::string_view section, std::string_view key, int def) const
{
    const auto value = lookup(path_, section, key);
    if (!value)
        return def;
    std::string_view s = *value;
    bool negative = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    std::int64_t n = 0;
    for (const char c : s) {
        if (c < '0' || c > '9')
            break;
        n = n * 10 + (c - '0');
        if (n > std::int64_t(INT_MAX) + 1)
            n = std::int64_t(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-n);
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

bool IniFile::writeString(std::string_view section, std::string_view key, std::string_view value)
{
    section = trim(section);
    key = trim(key);
    if (!validSection(section) || !validKey(key))
        return false;
    std::string content;
    if (readWhole(path_, content) == ReadResult::Failed)
        return false;
    auto lines = splitLines(content);
    const std::string eol = lineEnd(lines);
    const std::string keyLine = std::string(key) + "=" + oneLine(value);
    const Location loc = locate(lines, section, key);
    if (loc.key) {
        lines[*loc.key].text = keyLine;
    } else {
        std::vector<Line> added;
        if (!loc.section)
            added.push_back({"[" + std::string(section) + "]", eol});
        added.push_back({keyLine, eol});
        const std::size_t at = loc.section ? loc.insertAfter + 1 : lines.size();
        if (at > 0 && lines[at - 1].eol.empty())
            lines[at - 1].eol = eol;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
    }
    return replaceAtomically(path_, join(lines));
}

bool IniFile::writeInt(std::string_view section, std::string_view key, int value)
{
    return writeString(section, key, std::to_string(value));
}

} // namespace plat
