#pragma once
#include <json/value.h>

#include <cstddef>
#include <string>

// devset.txt and list.txt: one compact JSON text followed by one zero byte.

// Read limits: longer files are read only up to the limit.
constexpr size_t JSON_FILE_LIMIT_DEVSET = 40000;
constexpr size_t JSON_FILE_LIMIT_LIST = 1000000;

// Results of ReadJsonFile.
constexpr int JSON_FILE_READ_OK = 0;      // parsed completely
constexpr int JSON_FILE_READ_NONE = 1;    // missing, unreadable or empty: target untouched
constexpr int JSON_FILE_READ_FAILED = 2;  // did not parse: target holds what the reader left

// Reads at most nLimit bytes of path and parses them into target (comments
// collected). The text ends at the first zero byte, or with the data when
// there is none. A text that does not parse writes "dev - json parse failed."
// and leaves in target whatever the reader built; a missing or empty file
// leaves target as it was, without a message. Never throws. Runs on the
// window's thread (any single thread).
int ReadJsonFile(const std::string& path, size_t nLimit, Json::Value& target);

// Replaces path with the compact text of value and one zero byte, through a
// temporary file and a rename (see ReplaceFile). False when the file could not
// be written; an existing file is then untouched. Writes no debug line.
bool WriteJsonFile(const std::string& path, const Json::Value& value);
