#pragma once

// Diagnostic lines: printf-style text on standard output, flushed at once. Outside debug mode
// standard output is the null device, so they never reach the user.
namespace plat {

void diag(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace plat
