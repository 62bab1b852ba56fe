#pragma once

#include <cstdint>
#include <string>

class CopyProgress;
namespace plat {
class AtomicFile;
}

// The engine behind copyFiles: a plain recursive copy that writes each file under a temporary
// name beside its destination and renames it when complete, keeps ".lnk" shortcuts and links
// inside folders as links, and reports to an optional CopyProgress.
class FileCopier
{
public:
    enum class Result
    {
        Ok,
        Failed,
        Cancelled,
    };

    explicit FileCopier(CopyProgress* progress) : m_progress(progress) {}

    // The bytes that copy(source, …) would write (regular files only).
    static std::uint64_t measure(const std::string& source);

    // Copies source to the full name destination.
    Result copy(const std::string& source, const std::string& destination);
    // Why the copy failed, in words for the user (the first failure met); empty otherwise.
    const std::string& failure() const { return m_failure; }

private:
    // Each notes the failure and returns Result::Failed.
    Result failReading(int error);
    Result failWriting(int error);
    Result fail(const char* text);

    Result copyItem(const std::string& source, const std::string& destination, bool topLevel);
    Result copyFolder(const std::string& source, const std::string& destination);
    Result copyFile(const std::string& source, const std::string& destination);
    Result copyLink(const std::string& source, const std::string& destination);
    Result writeContents(int in, plat::AtomicFile& out);
    // False when destination exists and the user keeps it.
    bool mayReplace(const std::string& destination);

    CopyProgress* m_progress;
    std::string m_failure;
};
