#include "app/json_file.h"

#include <cstring>

#include "app/file_io.h"
#include "net/json_read.h"
#include "net/json_writer.h"
#include "platform/debug_log.h"

int ReadJsonFile(const std::string& path, size_t nLimit, Json::Value& target) {
  std::string data;
  if (!ReadFileLimited(path, nLimit, data) || data.empty()) return JSON_FILE_READ_NONE;
  const char* begin = data.data();
  const char* zero = static_cast<const char*>(memchr(begin, 0, data.size()));
  const char* end = zero ? zero : begin + data.size();
  if (JsonParse(begin, end, target, true)) return JSON_FILE_READ_OK;
  OutputDebugLine("dev - json parse failed.");
  return JSON_FILE_READ_FAILED;
}

bool WriteJsonFile(const std::string& path, const Json::Value& value) {
  std::string text = WriteCompactJson(value);
  text.push_back('\0');
  return ReplaceFile(path, text.data(), text.size());
}
