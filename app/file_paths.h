#pragma once
#include <string>

// The three files that lie beside the executable.
constexpr const char* FILE_NAME_DEVSET = "devset.txt";
constexpr const char* FILE_NAME_LIST = "list.txt";
constexpr const char* FILE_NAME_GPS = "gps.txt";

// dir + '/' + name. dir is the executable's directory (szExeDir) as
// GetExeDir() gives it, without a trailing '/'. Safe from any thread.
std::string ExeFilePath(const std::string& dir, const char* name);

inline std::string DevsetPath(const std::string& dir) { return ExeFilePath(dir, FILE_NAME_DEVSET); }
inline std::string ListPath(const std::string& dir) { return ExeFilePath(dir, FILE_NAME_LIST); }
inline std::string GpsPath(const std::string& dir) { return ExeFilePath(dir, FILE_NAME_GPS); }
