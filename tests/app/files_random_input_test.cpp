// Random and half-valid bytes as the three files: nothing may crash, and what
// is read must stay within the limits the devices rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "app/gps_file.h"
#include "app/list_file.h"
#include "app/settings_file.h"
#include "device/gps_track.h"
#include "tests/support/debug_capture.h"
#include "tests/support/temp_dir.h"

namespace {

const char* const kPieces[] = {
    "{", "}", "[", "]", ",", ":", "\"", "\"COUNT\":", "\"ID\":", "\"FREQ\":", "\"UP\":",
    "\"REG\":", "\"VF\":", "\"AT\":", "null", "true", "false", "-1", "2147483648", "1e400",
    "2.7", "\"x\"", "\"\\u0000\"", "\"\\ud800\"", "/*", "*/", "//", "\r\n", "\n", "\r",
    "22.5,", "114.0,", "0,", "yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy",
};

std::string RandomBytes(std::mt19937& rng, size_t maxLen) {
  std::string s(rng() % (maxLen + 1), '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

std::string RandomPieces(std::mt19937& rng, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) {
    if (rng() % 8 == 0) s.push_back(static_cast<char>(rng() & 0xFF));
    else s += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
  }
  return s;
}

std::string RandomContent(std::mt19937& rng) {
  switch (rng() % 3) {
    case 0: return RandomBytes(rng, 600);
    case 1: return RandomPieces(rng, rng() % 80);
    default: return "{\"COUNT\":" + std::to_string(static_cast<int>(rng() % 50) - 5) + "," +
                    RandomPieces(rng, rng() % 60);
  }
}

void CheckSettings(const Json::Value& settings) {
  ASSERT_TRUE(settings.isObject());
  EXPECT_TRUE(settings["REG"].isString());
  EXPECT_TRUE(settings["VF"].isString());
}

void CheckEntries(const std::vector<ListEntry>& entries, size_t fileLen) {
  EXPECT_LE(entries.size(), fileLen);  // every row needs at least one array element
  for (const ListEntry& e : entries) {
    EXPECT_LE(e.id.size(), LIST_ID_MAX);
    EXPECT_EQ(e.id.find('\0'), std::string::npos);
  }
}

void CheckTrack(const CGpsTrack& track) {
  ASSERT_LE(track.Count(), CGpsTrack::MAX_POINTS);
  for (int32_t i = 0; i < track.Count(); ++i) {
    EXPECT_LE(strlen(track.Point(i).szLatitude), 19u);
    EXPECT_LE(strlen(track.Point(i).szLongitude), 19u);
  }
}

TEST(FilesRandomInput, NoCrashAndReadValuesStayWithinTheirLimits) {
  std::mt19937 rng(20240611u);
  CTempDir dir;
  DebugCapture debug;  // keeps the expected parse failures off standard error
  auto track = std::make_unique<CGpsTrack>();
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(round);
    std::string list = RandomContent(rng);
    ASSERT_TRUE(dir.Write("devset.txt", RandomContent(rng)));
    ASSERT_TRUE(dir.Write("list.txt", list));
    ASSERT_TRUE(dir.Write("gps.txt", RandomContent(rng)));

    Json::Value settings;
    LoadSettings(dir.Path(), settings);
    CheckSettings(settings);
    std::vector<ListEntry> entries;
    ReadListFile(dir.Path(), entries);
    CheckEntries(entries, list.size());
    track->Clear();
    LoadGpsFile(dir.Path(), *track);
    CheckTrack(*track);
    ASSERT_TRUE(WriteListFile(dir.Path(), entries));
    ASSERT_TRUE(WriteSettings(dir.Path(), settings));
  }
  EXPECT_EQ(dir.Listing(), "devset.txt gps.txt list.txt");
}

}  // namespace
