#include "platform/Diag.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace plat {

void diag(const char* format, ...)
{
    // A diagnostic line must not change errno for the code that reports a failure after it.
    const int savedErrno = errno;
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
    errno = savedErrno;
}

} // namespace plat
