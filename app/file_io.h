#pragma once
#include <cstddef>
#include <string>

// Whole-file reading and replacing for the files beside the executable.
// Plain functions without shared state: safe from any thread as long as two
// threads do not write the same path at once.

// Reads at most nLimit bytes of the regular file at path into out (replacing
// its content). False when the file cannot be opened, is not a regular file
// (a FIFO or device would block or never end) or a read fails; out is then
// empty. An empty file gives true and an empty out.
bool ReadFileLimited(const std::string& path, size_t nLimit, std::string& out);

// Replaces the file at path with exactly the bytes [data, data + len): they
// go to a new file in the same directory, which is flushed to disk and then
// renamed over path. A crash or a full disk therefore leaves either the old
// file or the new one, never a cut one. An existing target keeps its
// permission bits. False on any failure; the temporary file is then removed
// and an existing target stays untouched.
bool ReplaceFile(const std::string& path, const char* data, size_t len);
