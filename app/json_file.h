#pragma once
#include <json/value.h>

#include <cstddef>
#include <string>

// devset.txt and list.txt: one compact JSON text followed by one zero byte.

// Read limits: longer files are read only up to the limit. list.txt's bound
// lies far above any fleet one machine holds (a 200,000-device list takes
// about 6 MB), so whatever the program writes it reads back whole.
constexpr size_t JSON_FILE_LIMIT_DEVSET = 40000;
constexpr size_t JSON_FILE_LIMIT_LIST = 256u * 1024u * 1024u;

// Results of ReadJsonFile.
constexpr int JSON_FILE_READ_OK = 0;          // parsed completely
constexpr int JSON_FILE_READ_NONE = 1;        // missing or empty: target untouched
constexpr int JSON_FILE_READ_FAILED = 2;      // did not parse: target holds what the reader left
constexpr int JSON_FILE_READ_UNREADABLE = 3;  // exists but cannot be read: target untouched
constexpr int JSON_FILE_READ_TOO_BIG = 4;     // longer than the limit: the cut text was parsed

// Reads at most nLimit bytes of path and parses them into target (comments
// collected). The text ends at the first zero byte, or with the data when
// there is none. A text that does not parse writes "dev - json parse failed."
// and leaves in target whatever the reader built; a missing or empty file
// leaves target as it was, without a message. For UNREADABLE, FAILED and
// TOO_BIG, *pWhy (when given) says what is wrong with the file in words for
// the operator. Never throws. Runs on the window's thread (any single thread).
int ReadJsonFile(const std::string& path, size_t nLimit, Json::Value& target, std::string* pWhy = nullptr);

// Replaces path with the compact text of value and one zero byte, through a
// temporary file and a rename (see ReplaceFile). False when the file could not
// be written; an existing file is then untouched. Writes no debug line.
bool WriteJsonFile(const std::string& path, const Json::Value& value);
