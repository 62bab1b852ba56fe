#pragma once

#include "wire/CatalogRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Low-level I/O for the files of whole 820-byte records (cache file, pending files, the
// error-record file): positioned reads and writes that finish or fail, and the whole-file rewrite
// through a temporary file.
namespace catalog::recordio {

// Writes all size bytes at offset. False on any failure (a part may have been written).
bool writeAt(int fd, const void* data, std::size_t size, off_t offset);
// Reads up to size bytes at offset; the number read (short at the end of the file), -1 on error.
ssize_t readAt(int fd, void* data, std::size_t size, off_t offset);

bool writeRecord(int fd, const CatalogRecord& record, std::size_t position);
// False when the file holds no whole record at that position.
bool readRecord(int fd, CatalogRecord& record, std::size_t position);

// Calls fn(record, position) for every whole record of the file in order, reading block by
// block. The size of the file in bytes, or -1 when it could not be read.
off_t forEachRecord(int fd, const std::function<void(const CatalogRecord&, std::size_t)>& fn);

// Replaces path with a file of count records (mode 0644) through a temporary file, so a crash
// leaves the old records or the new ones. On failure path is untouched and errno tells why.
// record(i) gives record i.
bool rewrite(const std::string& path, std::size_t count,
             const std::function<const CatalogRecord&(std::size_t)>& record);

// Opens for reading and writing, creating the file when missing and keeping its contents. A link
// in its place is not followed (the open fails, with a diagnostic line): something else could
// otherwise have the node write its records wherever the link points.
int openRw(const std::string& path);

} // namespace catalog::recordio
