#pragma once
#include <cstddef>
#include <string>

// Whole-file reading and replacing for the files beside the executable.
// Plain functions without shared state: safe from any thread as long as two
// threads do not write the same path at once.

// Results of ReadFileLimited.
constexpr int FILE_READ_OK = 0;          // out holds the file (or its first nLimit bytes)
constexpr int FILE_READ_MISSING = 1;     // there is no file at path
constexpr int FILE_READ_UNREADABLE = 2;  // it exists but cannot be opened or read

// Reads at most nLimit bytes of the regular file at path into out (replacing
// its content). FILE_READ_UNREADABLE when the file cannot be opened, is not a
// regular file (a FIFO or device would block or never end) or a read fails;
// *pWhy then says why and out is empty. An empty file gives FILE_READ_OK and
// an empty out. *pCut (when given) tells whether the file holds more than
// nLimit bytes. Memory follows the file's size, not nLimit.
int ReadFileLimited(const std::string& path, size_t nLimit, std::string& out, bool* pCut = nullptr,
                    std::string* pWhy = nullptr);

// Renames the file at path to the first free name of path + ".bad",
// path + ".bad.2" ... path + ".bad.99" (an earlier one is never replaced).
// True with the new path in *pNewPath; false with the reason in *pWhy.
bool SetFileAside(const std::string& path, std::string* pNewPath, std::string* pWhy);

// Replaces the file at path with exactly the bytes [data, data + len): they
// go to a new file in the same directory, which is flushed to disk and then
// renamed over path. A crash or a full disk therefore leaves either the old
// file or the new one, never a cut one. An existing target keeps its
// permission bits. False on any failure; the temporary file is then removed
// and an existing target stays untouched.
bool ReplaceFile(const std::string& path, const char* data, size_t len);
