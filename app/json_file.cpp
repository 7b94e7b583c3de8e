#include "app/json_file.h"

#include <cstring>

#include "app/file_io.h"
#include "net/json_read.h"
#include "net/json_writer.h"
#include "platform/debug_log.h"

int ReadJsonFile(const std::string& path, size_t nLimit, Json::Value& target, std::string* pWhy) {
  std::string data;
  std::string why;
  bool bCut = false;
  int read = ReadFileLimited(path, nLimit, data, &bCut, &why);
  if (read == FILE_READ_UNREADABLE) {
    if (pWhy) *pWhy = "cannot be read (" + why + ")";
    return JSON_FILE_READ_UNREADABLE;
  }
  if (read != FILE_READ_OK || data.empty()) return JSON_FILE_READ_NONE;
  const char* begin = data.data();
  const char* zero = static_cast<const char*>(memchr(begin, 0, data.size()));
  const char* end = zero ? zero : begin + data.size();
  bool bParsed = JsonParse(begin, end, target, true);
  if (!bParsed) OutputDebugLine("dev - json parse failed.");
  // Text after a zero byte is never read, so only a cut before the first
  // zero byte loses part of the document.
  if (bCut && !zero) {
    if (pWhy) *pWhy = "is larger than " + std::to_string(nLimit) + " bytes, the most that is read";
    return JSON_FILE_READ_TOO_BIG;
  }
  if (bParsed) return JSON_FILE_READ_OK;
  if (pWhy) *pWhy = "does not parse as JSON";
  return JSON_FILE_READ_FAILED;
}

bool WriteJsonFile(const std::string& path, const Json::Value& value) {
  std::string text = WriteCompactJson(value);
  text.push_back('\0');
  return ReplaceFile(path, text.data(), text.size());
}
