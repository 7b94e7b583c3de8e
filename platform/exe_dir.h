#pragma once
#include <string>

// Directory of the running executable (no trailing '/'), from /proc/self/exe.
// Empty when it cannot be read.
std::string GetExeDir();
