#pragma once

#include <string>

// "Open exclusively to learn whether another program still has the file open": a read lease,
// which the kernel refuses while any process holds the file open for writing.
namespace plat {

enum class OpenState
{
    Free,         // nobody writes to it: safe to register
    WriterActive, // some process has it open for writing
    Missing,      // it cannot be opened at all
};

OpenState probeOpenForWriting(const std::string& path);

} // namespace plat
