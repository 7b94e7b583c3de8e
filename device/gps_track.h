#pragma once
#include <cstdint>

// One point of the GPS track: latitude and longitude texts, at most 19
// characters each (longer fields are cut).
struct GpsPoint {
  char szLatitude[20] = {};
  char szLongitude[20] = {};
};

// The process-wide GPS track that every device replays in its GPS uploads.
// Filled once at start-up (before the driver thread starts) and only read
// afterwards, so readers need no lock.
class CGpsTrack {
 public:
  static constexpr int32_t MAX_POINTS = 3000;
  static constexpr int32_t MAX_FIELD = 19;

  int32_t Count() const { return nCount; }
  // The point at index (0 <= index < Count()).
  const GpsPoint& Point(int32_t index) const { return points[index]; }
  // Appends a point from two texts of the given lengths; false when full.
  bool Add(const char* lat, int32_t latLen, const char* lon, int32_t lonLen);
  void Clear() { nCount = 0; }

 private:
  GpsPoint points[MAX_POINTS];
  int32_t nCount = 0;
};

// The table the devices read.
CGpsTrack& GlobalGpsTrack();
