#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

#include "device/device_properties.h"

// list.txt: the fleet as a JSON object with "COUNT" and nine parallel arrays
// ("AD", "AS", "AT", "DT", "FREQ", "GPS", "ID", "REALCLOSE", "UP"); entry i of
// every array belongs to row i. All functions run on the window's thread.

// szId holds at most this many bytes of an ID.
constexpr size_t LIST_ID_MAX = 39;

// One row of the fleet as list.txt stores it.
struct ListEntry {
  std::string id;          // "ID": the device number
  DeviceProperties props;  // "UP", "FREQ", "GPS", "AD", "AS", "AT", "REALCLOSE"
  int32_t nDevType = 0;    // "DT": written, never read back
};

// The list document of entries: "COUNT" and, when there are entries, the nine
// arrays. No entries give {"COUNT":0}.
Json::Value BuildListDocument(const std::vector<ListEntry>& entries);

// The entries of a list document. Returns true when the document has a
// "COUNT" member that is not null (the start-up shows its total and starts the
// driver thread only then); entries is replaced either way.
//  - COUNT is read with JsonInt (a text reads 0); negative gives no entries,
//    and it is held to the length of the longest of the eight read arrays:
//    rows past every array would be nameless devices with nothing stored.
//  - Each value is JsonInt of its element: missing, null, text, array and
//    object 0, true 1, false 0, reals truncated. A member that is not an array
//    reads as missing for every row.
//  - "ID"[i] is the text up to its first zero byte, cut to LIST_ID_MAX bytes
//    without splitting a UTF-8 character; a missing or non-text "ID" gives an
//    empty ID, so the row and its values are kept.
//  - "DT" is not read (nDevType stays 0). A root that is not an object gives
//    no entries.
bool ParseListDocument(const Json::Value& doc, std::vector<ListEntry>& entries);

// Results of ReadListFile.
constexpr int LIST_FILE_NONE = 0;     // no list.txt, or an empty one
constexpr int LIST_FILE_LOADED = 1;   // a list document was read
constexpr int LIST_FILE_DAMAGED = 2;  // a list.txt that must not be replaced unseen

// Reads dir/list.txt (at most JSON_FILE_LIMIT_LIST bytes) and parses it with
// ParseListDocument. A file that exists but cannot be read, is larger than the
// limit, does not parse (the debug line "dev - json parse failed." stays), or
// is not an object with a "COUNT" member is LIST_FILE_DAMAGED: it gives no
// entries at all (never rows rebuilt from half a document), and *pWhy says
// what is wrong in words for the operator.
int ReadListFile(const std::string& dir, std::vector<ListEntry>& entries, std::string* pWhy = nullptr);

// Writes the list document of entries to dir/list.txt; false when that failed
// (an existing list.txt is then untouched).
bool WriteListFile(const std::string& dir, const std::vector<ListEntry>& entries);

// text up to its first zero byte, cut to at most nMax bytes; a cut never
// leaves the leading part of a UTF-8 character behind.
std::string CutIdText(const std::string& text, size_t nMax);
