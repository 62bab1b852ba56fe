#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <vector>

TempDir::TempDir()
{
    std::string pattern = "/tmp/pavo-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = buf.data();
}

TempDir::~TempDir()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ec);
    // A test may leave read-only folders behind; give the owner write access back first, or
    // remove_all would stop half-way and leak the rest.
    for (auto it = fs::recursive_directory_iterator(m_path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    ec.clear();
    fs::remove_all(m_path, ec);
    if (ec)
        ADD_FAILURE() << "cannot remove " << m_path << ": " << ec.message();
}

std::string TempDir::file(std::string_view name) const
{
    std::string out = m_path;
    out += '/';
    out += name;
    return out;
}
