// gps.txt scanned into a track of its own. The track never holds more than
// 3000 points, every text is at most 19 characters, ends inside its field and
// holds no field separator, and the number of points follows from the number
// of separators alone (every fifth field, starting with the second, completes
// a point).
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/gps_file.h"
#include "device/gps_track.h"
#include "platform/debug_log.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

void CheckText(const char* text) {
  const void* end = memchr(text, 0, CGpsTrack::MAX_FIELD + 1);
  FUZZ_CHECK(end != nullptr);
  FUZZ_CHECK(strchr(text, ',') == nullptr && strchr(text, '\r') == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetDebugEnabled(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<CGpsTrack> track(new CGpsTrack);
  const int32_t added = ScanGpsText(reinterpret_cast<const char*>(data), size, *track);
  FUZZ_CHECK(added == track->Count());
  FUZZ_CHECK(added >= 0 && added <= CGpsTrack::MAX_POINTS);

  size_t separators = 0;
  for (size_t i = 0; i < size; ++i) separators += data[i] == ',' || data[i] == '\r';
  const size_t expected = (separators + 3) / 5;
  FUZZ_CHECK(static_cast<size_t>(added) == (expected < CGpsTrack::MAX_POINTS ? expected : CGpsTrack::MAX_POINTS));

  for (int32_t i = 0; i < added; ++i) {
    CheckText(track->Point(i).szLatitude);
    CheckText(track->Point(i).szLongitude);
  }
  // A full track takes no more points.
  if (added == CGpsTrack::MAX_POINTS) FUZZ_CHECK(ScanGpsText("1,2\r\n", 5, *track) == 0);
  return 0;
}
