#pragma once
#include <functional>

// Polls cond every few milliseconds until it holds; false after timeoutMs.
bool WaitUntil(const std::function<bool()>& cond, int timeoutMs);
