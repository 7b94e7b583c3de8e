#include "app/gps_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "device/gps_track.h"
#include "tests/support/temp_dir.h"

namespace {

using Points = std::vector<std::pair<std::string, std::string>>;

Points Scan(const std::string& text) {
  auto track = std::make_unique<CGpsTrack>();
  int32_t added = ScanGpsText(text.data(), text.size(), *track);
  EXPECT_EQ(added, track->Count());
  Points out;
  for (int32_t i = 0; i < track->Count(); ++i)
    out.emplace_back(track->Point(i).szLatitude, track->Point(i).szLongitude);
  return out;
}

TEST(GpsScan, OneWellFormedLineGivesOnePoint) {
  EXPECT_EQ(Scan("22.5431,114.0579,0,0,0\r\n"), (Points{{"22.5431", "114.0579"}}));
}

TEST(GpsScan, MoreThan3000LinesGiveTheFirst3000) {
  std::string text;
  for (int i = 0; i < 3001; ++i)
    text += "22." + std::to_string(i) + ",114." + std::to_string(i) + ",60,90,1\r\n";
  CTempDir dir;
  ASSERT_TRUE(dir.Write("gps.txt", text));
  auto track = std::make_unique<CGpsTrack>();
  EXPECT_EQ(LoadGpsFile(dir.Path(), *track), 3000);
  ASSERT_EQ(track->Count(), 3000);
  EXPECT_STREQ(track->Point(0).szLatitude, "22.0");
  EXPECT_STREQ(track->Point(0).szLongitude, "114.0");
  EXPECT_STREQ(track->Point(1234).szLatitude, "22.1234");
  EXPECT_STREQ(track->Point(2999).szLatitude, "22.2999");
  EXPECT_STREQ(track->Point(2999).szLongitude, "114.2999");
}

TEST(GpsScan, LfOnlyLinesShiftTheCounting) {
  // Without a CR the last field of a line runs into the next line (the LF
  // moves its start onto the LF itself), so each line counts one field less
  // and the pairing slips by one field per line: fields 1 and 2 are
  // 22.1/114.1, fields 6 and 7 are 114.2/0, fields 11 and 12 the second and
  // third "0" of the last line.
  EXPECT_EQ(Scan("22.1,114.1,0,0,0\n22.2,114.2,0,0,0\n22.3,114.3,0,0,0\n"),
            (Points{{"22.1", "114.1"}, {"114.2", "0"}, {"0", "0"}}));
  // An LF inside a field shortens it from the front and stays in it.
  EXPECT_EQ(Scan("ab\ncd,ef,"), (Points{{"b\ncd", "ef"}}));
}

TEST(GpsScan, BlankLineCountsAsOneEmptyField) {
  EXPECT_EQ(Scan("22.1,114.1,0,0,0\r\n\r\n22.2,114.2,0,0,0\r\n22.3,114.3,0,0,0\r\n"),
            (Points{{"22.1", "114.1"}, {"", "22.2"}, {"0", "22.3"}}));
}

TEST(GpsScan, TwoFieldLinesTakeFields1_2_6_7_11_12) {
  EXPECT_EQ(Scan("1.1,1.2\r\n2.1,2.2\r\n3.1,3.2\r\n4.1,4.2\r\n5.1,5.2\r\n6.1,6.2\r\n"),
            (Points{{"1.1", "1.2"}, {"3.2", "4.1"}, {"6.1", "6.2"}}));
}

TEST(GpsScan, LongFieldsAreCutTo19Characters) {
  EXPECT_EQ(Scan("22.123456789012345678901,114.12345678901234567,0,0,0\r\n"),
            (Points{{"22.1234567890123456", "114.123456789012345"}}));
}

TEST(GpsScan, LastFieldWithoutTerminatorIsNotCounted) {
  EXPECT_TRUE(Scan("22.1,114.1").empty());
  EXPECT_EQ(Scan("22.1,114.1\r"), (Points{{"22.1", "114.1"}}));
  EXPECT_TRUE(Scan("").empty());
  EXPECT_TRUE(Scan("\n\n\n\n").empty());
}

TEST(GpsScan, AFullTrackTakesNoMorePoints) {
  auto track = std::make_unique<CGpsTrack>();
  for (int i = 0; i < CGpsTrack::MAX_POINTS - 1; ++i) track->Add("1", 1, "2", 1);
  const std::string text = "3,4,0,0,0\r\n5,6,0,0,0\r\n";
  EXPECT_EQ(ScanGpsText(text.data(), text.size(), *track), 1);
  EXPECT_EQ(track->Count(), CGpsTrack::MAX_POINTS);
  EXPECT_STREQ(track->Point(CGpsTrack::MAX_POINTS - 1).szLatitude, "3");
}

TEST(GpsFile, OnlyTheFirst2000000BytesAreRead) {
  CTempDir dir;
  auto track = std::make_unique<CGpsTrack>();
  // The record ends inside the limit: one point.
  ASSERT_TRUE(dir.Write("gps.txt", std::string(1999990, '\n') + "1.5,2.5\r\n"));
  EXPECT_EQ(LoadGpsFile(dir.Path(), *track), 1);
  EXPECT_STREQ(track->Point(0).szLatitude, "1.5");
  // The longitude's CR lies past the limit: no point.
  ASSERT_TRUE(dir.Write("gps.txt", std::string(1999995, '\n') + "1.5,2.5\r\n"));
  EXPECT_EQ(LoadGpsFile(dir.Path(), *track), 0);
  EXPECT_EQ(track->Count(), 1);
}

}  // namespace
