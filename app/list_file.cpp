#include "app/list_file.h"

#include <algorithm>

#include "app/file_paths.h"
#include "app/json_file.h"
#include "net/json_read.h"

namespace {

// The eight arrays that are read back, with the field each one fills.
struct ListColumn {
  const char* szKey;
  int32_t DeviceProperties::*pField;
};
constexpr ListColumn kValueColumns[] = {
    {"UP", &DeviceProperties::bAutoUpload},  {"FREQ", &DeviceProperties::nUploadInterval},
    {"GPS", &DeviceProperties::bGps},        {"AD", &DeviceProperties::bCustomAlarm},
    {"AS", &DeviceProperties::bSpeedAlarm},  {"AT", &DeviceProperties::nAutoOffline},
    {"REALCLOSE", &DeviceProperties::nLiveViewOff},
};

// Element i of arr when arr is an array that long, else a null value.
const Json::Value& Element(const Json::Value& arr, size_t i) {
  static const Json::Value kNull;
  if (!arr.isArray() || i >= arr.size()) return kNull;
  return arr[static_cast<Json::ArrayIndex>(i)];
}

size_t ArrayLength(const Json::Value& arr) { return arr.isArray() ? arr.size() : 0; }

// COUNT held to [0, longest read array].
size_t RowCount(const Json::Value& doc) {
  int32_t count = JsonInt(JsonMember(doc, "COUNT"));
  if (count <= 0) return 0;
  size_t longest = ArrayLength(JsonMember(doc, "ID"));
  for (const ListColumn& col : kValueColumns)
    longest = std::max(longest, ArrayLength(JsonMember(doc, col.szKey)));
  return std::min(static_cast<size_t>(count), longest);
}

ListEntry ReadRow(const Json::Value& doc, size_t i) {
  ListEntry entry;
  entry.id = CutIdText(JsonText(Element(JsonMember(doc, "ID"), i)), LIST_ID_MAX);
  for (const ListColumn& col : kValueColumns)
    entry.props.*col.pField = JsonInt(Element(JsonMember(doc, col.szKey), i));
  return entry;
}

}  // namespace

Json::Value BuildListDocument(const std::vector<ListEntry>& entries) {
  Json::Value doc(Json::objectValue);
  doc["COUNT"] = static_cast<Json::Int>(entries.size());
  for (const ListEntry& entry : entries) {
    doc["DT"].append(entry.nDevType);
    doc["ID"].append(entry.id);
    for (const ListColumn& col : kValueColumns) doc[col.szKey].append(entry.props.*col.pField);
  }
  return doc;
}

bool ParseListDocument(const Json::Value& doc, std::vector<ListEntry>& entries) {
  entries.clear();
  if (JsonMember(doc, "COUNT").isNull()) return false;
  size_t count = RowCount(doc);
  entries.reserve(count);
  for (size_t i = 0; i < count; ++i) entries.push_back(ReadRow(doc, i));
  return true;
}

int ReadListFile(const std::string& dir, std::vector<ListEntry>& entries, std::string* pWhy) {
  entries.clear();
  Json::Value doc;
  std::string why;
  int read = ReadJsonFile(ListPath(dir), JSON_FILE_LIMIT_LIST, doc, &why);
  if (read == JSON_FILE_READ_NONE) return LIST_FILE_NONE;
  if (read == JSON_FILE_READ_OK && !ParseListDocument(doc, entries))
    why = doc.isObject() ? "holds no fleet (no \"COUNT\" member)" : "is not a JSON object";
  if (read == JSON_FILE_READ_OK && why.empty()) return LIST_FILE_LOADED;
  entries.clear();
  if (pWhy) *pWhy = why;
  return LIST_FILE_DAMAGED;
}

bool WriteListFile(const std::string& dir, const std::vector<ListEntry>& entries) {
  return WriteJsonFile(ListPath(dir), BuildListDocument(entries));
}

std::string CutIdText(const std::string& text, size_t nMax) {
  size_t len = std::min(text.find('\0'), text.size());
  if (len <= nMax) return text.substr(0, len);
  len = nMax;
  // Back off continuation bytes (10xxxxxx) so that the character that would
  // be split at the cut is dropped whole. A UTF-8 character has at most three
  // of them; text that is not UTF-8 is cut at most three bytes early.
  size_t floor = nMax >= 3 ? nMax - 3 : 0;
  while (len > floor && (static_cast<unsigned char>(text[len]) & 0xC0) == 0x80) --len;
  return text.substr(0, len);
}
