#pragma once

#include <cstdint>
#include <string>

// What copyFiles asks of the user while it copies: the user interface implements it with a
// progress dialog that can be cancelled and a replace question.
class CopyProgress
{
public:
    virtual ~CopyProgress() = default;
    // Called once before the first byte is copied.
    virtual void start(std::uint64_t totalBytes) = 0;
    // bytes more have been copied. False when the user has cancelled the copy.
    virtual bool advance(std::uint64_t bytes) = 0;
    // The file path exists already: true to replace it, false to leave it and skip this file.
    virtual bool confirmReplace(const std::string& path) = 0;
    // Called once when the copy ends, whatever its outcome.
    virtual void finish() = 0;
};
