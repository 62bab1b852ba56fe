#pragma once

#include <string>
#include <string_view>

// A UTF-8 text file with private-profile semantics: "[section]" lines and "key=value" lines;
// section and key names compared without regard to case; values trimmed; a key written in place
// or appended to its section; a missing section appended at the end. Every write rewrites the
// whole file through a temporary file and a rename, so a crash never leaves it half written.
// Lines that are not understood are kept as they are.
namespace plat {

class IniFile
{
public:
    explicit IniFile(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // The value, cut to at most maxLen bytes (never inside a UTF-8 character); def when the
    // key or the file is missing.
    std::string getString(std::string_view section, std::string_view key, std::string_view def,
                          std::size_t maxLen = 260) const;
    // The leading decimal digits of the value (an optional sign allowed), 0 when it starts with
    // none; def when the key is missing. Saturates at the int range instead of overflowing.
    int getInt(std::string_view section, std::string_view key, int def) const;

    // False when the file could not be written; it then keeps its previous content.
    bool writeString(std::string_view section, std::string_view key, std::string_view value);
    bool writeInt(std::string_view section, std::string_view key, int value);

private:
    std::string path_;
};

} // namespace plat
