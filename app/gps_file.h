#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class CGpsTrack;

// gps.txt: comma-separated records, lines ended by CR LF; the first two
// fields of every five are latitude and longitude.

constexpr size_t GPS_FILE_LIMIT = 2000000;

// Appends the points of [data, data + len) to track. The fields are counted
// over the whole text, not per line: a ',' or a CR ends the current field and
// counts it (k = 1, 2, ...); the next field starts after it. An LF moves the
// start of the current field one byte forward, which skips the LF of a CR LF
// pair; every other byte belongs to the field. Field k with k mod 5 == 1 is
// the latitude of the next point, k mod 5 == 2 its longitude and completes
// the point; k mod 5 of 3, 4 and 0 are skipped. Lines that are not five
// fields ending in CR LF therefore shift the pairing. A last field without a
// ',' or CR after it is not counted. The scan stops when the track is full
// (CGpsTrack::MAX_POINTS); CGpsTrack::Add cuts fields to 19 characters.
// Returns the number of points added.
int32_t ScanGpsText(const char* data, size_t len, CGpsTrack& track);

// Reads at most GPS_FILE_LIMIT bytes of dir/gps.txt and scans them into
// track. A missing file adds nothing, without a message. *pRead (when given)
// gets ReadFileLimited's result and *pWhy its reason. Runs at start-up,
// before any device reads the track.
int32_t LoadGpsFile(const std::string& dir, CGpsTrack& track, int* pRead = nullptr, std::string* pWhy = nullptr);
