// list.txt as the start-up reads it: the input parsed as JSON (whatever the
// reader built, also when the text does not parse) and turned into rows.
// Rows never outnumber COUNT or the longest array, IDs are at most 39 bytes
// without a zero byte and never split a UTF-8 character, and the rows survive
// being written out and read back unchanged.
#include <cstdint>
#include <string>
#include <vector>

#include "app/list_file.h"
#include "net/json_read.h"
#include "net/json_writer.h"
#include "platform/debug_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Structural UTF-8: lead bytes followed by the right number of continuation bytes.
bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    if (c < 0x80) n = 0;
    else if ((c & 0xE0) == 0xC0) n = 1;
    else if ((c & 0xF0) == 0xE0) n = 2;
    else if ((c & 0xF8) == 0xF0) n = 3;
    else return false;
    if (n > s.size() - i - 1) return false;
    for (size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

size_t LongestArray(const Json::Value& doc) {
  size_t longest = 0;
  for (const char* key : {"ID", "UP", "FREQ", "GPS", "AD", "AS", "AT", "REALCLOSE"}) {
    const Json::Value& a = JsonMember(doc, key);
    if (a.isArray() && a.size() > longest) longest = a.size();
  }
  return longest;
}

void CheckId(const Json::Value& doc, size_t row, const std::string& id) {
  FUZZ_CHECK(id.size() <= LIST_ID_MAX && id.find('\0') == std::string::npos);
  const Json::Value& ids = JsonMember(doc, "ID");
  std::string text;
  if (ids.isArray() && row < ids.size()) text = JsonText(ids[static_cast<Json::ArrayIndex>(row)]);
  text = text.substr(0, text.find('\0'));
  FUZZ_CHECK(text.compare(0, id.size(), id) == 0);
  if (text.size() <= LIST_ID_MAX) FUZZ_CHECK(id == text);
  else FUZZ_CHECK(id.size() + 3 >= LIST_ID_MAX);
  if (IsUtf8(text)) FUZZ_CHECK(IsUtf8(id));
}

bool SameProps(const DeviceProperties& a, const DeviceProperties& b) {
  return a.bAutoUpload == b.bAutoUpload && a.nUploadInterval == b.nUploadInterval && a.bGps == b.bGps &&
         a.bCustomAlarm == b.bCustomAlarm && a.bSpeedAlarm == b.bSpeedAlarm && a.nAutoOffline == b.nAutoOffline &&
         a.nLiveViewOff == b.nLiveViewOff;
}

void CheckRoundTrip(const std::vector<ListEntry>& entries) {
  const std::string text = WriteCompactJson(BuildListDocument(entries));
  Json::Value doc;
  FUZZ_CHECK(JsonParse(text.data(), text.data() + text.size(), doc));
  std::vector<ListEntry> again;
  FUZZ_CHECK(ParseListDocument(doc, again));
  FUZZ_CHECK(again.size() == entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    FUZZ_CHECK(again[i].id == entries[i].id);
    FUZZ_CHECK(SameProps(again[i].props, entries[i].props));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  Json::Value doc;
  JsonParse(text, text + size, doc);
  std::vector<ListEntry> entries(3);  // replaced whatever the result
  const bool bHasCount = ParseListDocument(doc, entries);
  FUZZ_CHECK(bHasCount == !JsonMember(doc, "COUNT").isNull());
  if (!bHasCount) FUZZ_CHECK(entries.empty());
  const int32_t count = JsonInt(JsonMember(doc, "COUNT"));
  FUZZ_CHECK(entries.size() <= (count > 0 ? static_cast<size_t>(count) : 0));
  FUZZ_CHECK(entries.size() <= LongestArray(doc));
  for (size_t i = 0; i < entries.size(); ++i) {
    CheckId(doc, i, entries[i].id);
    FUZZ_CHECK(entries[i].nDevType == 0);
  }
  CheckRoundTrip(entries);
  return 0;
}
