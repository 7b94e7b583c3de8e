#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Up to maxBytes of p as text: printable ASCII as is, everything else (and the
// backslash) as \xHH, then "..." when len was longer.
std::string PrintableSample(const uint8_t* p, size_t len, size_t maxBytes);
// The same for a text received from the network (device numbers, positions).
std::string Printable(const std::string& text, size_t maxBytes = 100);
