#pragma once
#include <cstdint>
#include <memory>
#include <vector>

// A frame file's bytes, read once per process and shared read-only by every
// stream that plays it. Up to INT32_MAX bytes are read (the frame offsets are
// signed 32-bit values); what lies beyond counts as the end of the file.
struct FrameFileBytes {
  std::vector<uint8_t> data;
};

// The bytes of the regular file at path, from the process-wide cache when the
// file is unchanged since it was read (same device, inode, size and change
// time) and some stream still holds them; otherwise read now (the calling
// thread waits for the read: once per file and change). Streams that hold an
// earlier copy keep playing it. Null when the file cannot be opened, is not a
// regular file, or its bytes cannot be held. Any thread.
std::shared_ptr<const FrameFileBytes> LoadFrameFile(const char* path);
