#include "device/gps_track.h"

#include <cstring>

namespace {
void CopyField(char* dst, const char* src, int32_t len) {
  if (len < 0) len = 0;
  if (len > CGpsTrack::MAX_FIELD) len = CGpsTrack::MAX_FIELD;
  memcpy(dst, src, static_cast<size_t>(len));
  dst[len] = '\0';
}
}  // namespace

bool CGpsTrack::Add(const char* lat, int32_t latLen, const char* lon, int32_t lonLen) {
  if (nCount >= MAX_POINTS) return false;
  CopyField(points[nCount].szLatitude, lat, latLen);
  CopyField(points[nCount].szLongitude, lon, lonLen);
  ++nCount;
  return true;
}

CGpsTrack& GlobalGpsTrack() {
  static CGpsTrack track;
  return track;
}
