#pragma once

#include <functional>
#include <string>
#include <string_view>

// The one reader of the client's config files (the account file and the local mode's users
// file): lines of "key = value" and "[section]", "#" or ";" starting a comment line, keys
// without regard to case, relative paths taken from the file's folder. Each line goes to the
// caller's handler; the first error stops the reading and names its line.
class ConfigReader
{
public:
    struct Line
    {
        bool section = false;   // a "[name]" line: name in value
        std::string key;        // lower case, for a setting
        std::string_view value; // trimmed
    };
    // False with the reason (without the line number) to stop.
    using Handler = std::function<bool(const Line& line, std::string& error)>;

    // Reads the file's text; base is its folder. False with a message when it cannot be read.
    bool load(const std::string& path, std::string& error);
    const std::string& text() const { return text_; }
    const std::string& base() const { return base_; }

    // Every line of text to handler.
    static bool parse(std::string_view text, const Handler& handler, std::string& error);
    // value as a path: absolute as it is, otherwise below base.
    static std::string path(const std::string& base, std::string_view value);
    // Items separated by commas, blanks or both, each to take (false stops with its error).
    static bool items(std::string_view value, const std::function<bool(std::string)>& take);
    static std::string lower(std::string_view s);
    static std::string_view trim(std::string_view s);
    // A whole decimal number from min to max.
    static bool number(std::string_view value, int min, int max, int& out);

private:
    std::string text_;
    std::string base_;
};
