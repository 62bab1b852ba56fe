#pragma once

#include <string>
#include <string_view>

// A fresh, private folder under /tmp for one test; removed with everything in it when the
// object goes away. Not copyable, so two owners never remove the same folder.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder's absolute path, without a trailing "/".
    const std::string& path() const { return m_path; }

    // path() + "/" + name; nothing is created.
    std::string file(std::string_view name) const;

private:
    std::string m_path;
};
