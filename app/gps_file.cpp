#include "app/gps_file.h"

#include "app/file_io.h"
#include "app/file_paths.h"
#include "device/gps_track.h"

int32_t ScanGpsText(const char* data, size_t len, CGpsTrack& track) {
  int32_t nAdded = 0;
  uint32_t k = 0;
  size_t start = 0;     // first byte of the current field
  size_t latStart = 0;  // the pending latitude field
  size_t latLen = 0;
  for (size_t i = 0; i < len && track.Count() < CGpsTrack::MAX_POINTS; ++i) {
    char c = data[i];
    if (c == '\n') {
      ++start;  // never passes i + 1, so a field is never negative
      continue;
    }
    if (c != ',' && c != '\r') continue;
    size_t fieldLen = i - start;
    ++k;
    if (k % 5 == 1) {
      latStart = start;
      latLen = fieldLen;
    } else if (k % 5 == 2) {
      if (track.Add(data + latStart, static_cast<int32_t>(latLen), data + start,
                    static_cast<int32_t>(fieldLen)))
        ++nAdded;
    }
    start = i + 1;
  }
  return nAdded;
}

int32_t LoadGpsFile(const std::string& dir, CGpsTrack& track, int* pRead, std::string* pWhy) {
  std::string data;
  int read = ReadFileLimited(GpsPath(dir), GPS_FILE_LIMIT, data, nullptr, pWhy);
  if (pRead) *pRead = read;
  if (read != FILE_READ_OK) return 0;
  return ScanGpsText(data.data(), data.size(), track);
}
