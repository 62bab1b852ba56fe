#include "ConfigReader.h"

#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

bool ConfigReader::load(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    text_ = text.str();
    std::error_code ec;
    base_ = std::filesystem::absolute(path, ec).parent_path().string();
    return true;
}

std::string_view ConfigReader::trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

std::string ConfigReader::lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool ConfigReader::parse(std::string_view text, const Handler& handler, std::string& error)
{
    error.clear();
    int number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t nl = text.find('\n');
        const std::string_view s = trim(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (s.empty() || s.front() == '#' || s.front() == ';')
            continue;
        Line line;
        bool ok = true;
        if (s.front() == '[') {
            line.section = true;
            line.value = trim(s.substr(1, s.size() - 1 - (s.back() == ']' ? 1 : 0)));
            if (s.back() != ']') {
                error = "a section line ends in \"]\"";
                ok = false;
            }
        } else if (const std::size_t eq = s.find('='); eq == std::string_view::npos) {
            error = "expected key = value";
            ok = false;
        } else {
            line.key = lower(trim(s.substr(0, eq)));
            line.value = trim(s.substr(eq + 1));
        }
        if (!ok || !handler(line, error)) {
            error = "line " + std::to_string(number) + ": " + error;
            return false;
        }
    }
    return true;
}

std::string ConfigReader::path(const std::string& base, std::string_view value)
{
    return !value.empty() && value.front() == '/' ? std::string(value)
                                                  : base + "/" + std::string(value);
}

bool ConfigReader::items(std::string_view value, const std::function<bool(std::string)>& take)
{
    std::string item;
    for (char c : value) {
        if (c != ',' && !std::isspace(static_cast<unsigned char>(c))) {
            item += c;
            continue;
        }
        if (!item.empty() && !take(std::move(item)))
            return false;
        item.clear();
    }
    return item.empty() || take(std::move(item));
}

bool ConfigReader::number(std::string_view value, int min, int max, int& out)
{
    int v = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (ec != std::errc() || end != value.data() + value.size() || v < min || v > max)
        return false;
    out = v;
    return true;
}
