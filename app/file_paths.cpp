#include "app/file_paths.h"

std::string ExeFilePath(const std::string& dir, const char* name) {
  std::string path = dir;
  path += '/';
  path += name;
  return path;
}
