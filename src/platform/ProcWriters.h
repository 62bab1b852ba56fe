#pragma once

#include <sys/types.h>

// Whether any process this one may inspect holds the file (device + inode) open for writing,
// found by walking /proc/<pid>/fd and the open flags in /proc/<pid>/fdinfo. The stand-in for a
// read lease where the file system or the caller cannot take one; processes of other users are
// invisible to an unprivileged caller, so it can only miss writers, never invent them.
namespace plat {

bool procHasWriter(dev_t device, ino_t inode);

} // namespace plat
