#include "app/list_file.h"

#include <gtest/gtest.h>

#include "tests/support/debug_capture.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<ListEntry> ReadText(const std::string& text, int* pResult = nullptr) {
  CTempDir dir;
  EXPECT_TRUE(dir.Write("list.txt", text));
  std::vector<ListEntry> entries;
  int result = ReadListFile(dir.Path(), entries);
  if (pResult) *pResult = result;
  return entries;
}

ListEntry Entry(const std::string& id, DeviceProperties props = DeviceProperties::NewDevice()) {
  ListEntry e;
  e.id = id;
  e.props = props;
  return e;
}

TEST(ListFileWrite, EmptyFleetIsCountZeroAndAZeroByte) {
  CTempDir dir;
  ASSERT_TRUE(WriteListFile(dir.Path(), {}));
  EXPECT_EQ(dir.Read("list.txt"), std::string("{\"COUNT\":0}") + '\0');
  EXPECT_EQ(dir.Listing(), "list.txt");
}

TEST(ListFileWrite, TwoNewDevicesGiveTheDocumentedText) {
  CTempDir dir;
  ASSERT_TRUE(WriteListFile(dir.Path(), {Entry("CAR-0001"), Entry("CAR-0002")}));
  EXPECT_EQ(dir.Read("list.txt"),
            std::string("{\"AD\":[1,1],\"AS\":[1,1],\"AT\":[0,0],\"COUNT\":2,\"DT\":[0,0],"
                        "\"FREQ\":[10,10],\"GPS\":[0,0],\"ID\":[\"CAR-0001\",\"CAR-0002\"],"
                        "\"REALCLOSE\":[0,0],\"UP\":[0,0]}") + '\0');
}

TEST(ListFileWrite, EveryValueGoesToItsOwnKeyAndReadsBack) {
  DeviceProperties p;
  p.bAutoUpload = 1;
  p.nUploadInterval = 30;
  p.bGps = 1;
  p.bCustomAlarm = 0;
  p.bSpeedAlarm = 0;
  p.nAutoOffline = 600;
  p.nLiveViewOff = -7;
  ListEntry a = Entry("A", p);
  a.nDevType = 5;
  CTempDir dir;
  ASSERT_TRUE(WriteListFile(dir.Path(), {a, Entry("\xe8\xbd\xa6\"q")}));
  EXPECT_EQ(dir.Read("list.txt"),
            std::string("{\"AD\":[0,1],\"AS\":[0,1],\"AT\":[600,0],\"COUNT\":2,\"DT\":[5,0],"
                        "\"FREQ\":[30,10],\"GPS\":[1,0],\"ID\":[\"A\",\"\xe8\xbd\xa6\\\"q\"],"
                        "\"REALCLOSE\":[-7,0],\"UP\":[1,0]}") + '\0');

  std::vector<ListEntry> back;
  ASSERT_TRUE(ReadListFile(dir.Path(), back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].id, "A");
  EXPECT_EQ(back[0].nDevType, 0);  // "DT" is not read
  EXPECT_EQ(back[0].props.bAutoUpload, 1);
  EXPECT_EQ(back[0].props.nUploadInterval, 30);
  EXPECT_EQ(back[0].props.bGps, 1);
  EXPECT_EQ(back[0].props.bCustomAlarm, 0);
  EXPECT_EQ(back[0].props.bSpeedAlarm, 0);
  EXPECT_EQ(back[0].props.nAutoOffline, 600);
  EXPECT_EQ(back[0].props.nLiveViewOff, -7);
  EXPECT_EQ(back[1].id, "\xe8\xbd\xa6\"q");
  EXPECT_EQ(back[1].props.nUploadInterval, 10);
}

TEST(ListFileRead, ValuesConvertLikeTheSystemsIntegers) {
  auto e = ReadText("{\"COUNT\":7,\"ID\":[\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\"],"
                    "\"FREQ\":[\"15\",true,2.7,-2.7,null,false,{\"x\":1}]}");
  ASSERT_EQ(e.size(), 7u);
  const int32_t expected[] = {0, 1, 2, -2, 0, 0, 0};
  for (size_t i = 0; i < 7; ++i) EXPECT_EQ(e[i].props.nUploadInterval, expected[i]) << i;
  // Members absent from the file read 0, not the new-device defaults.
  EXPECT_EQ(e[0].props.bCustomAlarm, 0);
  EXPECT_EQ(e[0].props.bSpeedAlarm, 0);
}

TEST(ListFileRead, CountTwoWithThreeEntriesGivesTwoAndTheThirdIsGoneAfterWriting) {
  auto e = ReadText("{\"COUNT\":2,\"ID\":[\"X1\",\"X2\",\"X3\"],\"UP\":[1,0,1],\"AT\":[5,6,7]}");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[1].id, "X2");
  EXPECT_EQ(e[1].props.nAutoOffline, 6);
  CTempDir dir;
  ASSERT_TRUE(WriteListFile(dir.Path(), e));
  std::vector<ListEntry> back;
  ASSERT_TRUE(ReadListFile(dir.Path(), back));
  EXPECT_EQ(back.size(), 2u);
  EXPECT_EQ(dir.Read("list.txt").find("X3"), std::string::npos);
}

TEST(ListFileRead, CountIsHeldBetweenZeroAndTheLongestArray) {
  int result = 0;
  EXPECT_TRUE(ReadText("{\"COUNT\":-3,\"ID\":[\"a\"]}", &result).empty());
  EXPECT_EQ(result, LIST_FILE_LOADED);
  EXPECT_TRUE(ReadText("{\"COUNT\":\"3\",\"ID\":[\"a\"]}", &result).empty());
  EXPECT_EQ(result, LIST_FILE_LOADED);
  EXPECT_EQ(ReadText("{\"COUNT\":1.9,\"ID\":[\"a\",\"b\"]}").size(), 1u);
  EXPECT_EQ(ReadText("{\"COUNT\":2000000000,\"ID\":[\"a\",\"b\"]}").size(), 2u);
  EXPECT_TRUE(ReadText("{\"COUNT\":5}", &result).empty());
  EXPECT_EQ(result, LIST_FILE_LOADED);
  // No COUNT: not a fleet this program wrote, so it must not be replaced unseen.
  EXPECT_TRUE(ReadText("{\"COUNT\":null,\"ID\":[\"a\"]}", &result).empty());
  EXPECT_EQ(result, LIST_FILE_DAMAGED);
  EXPECT_TRUE(ReadText("{\"ID\":[\"a\"]}", &result).empty());
  EXPECT_EQ(result, LIST_FILE_DAMAGED);

  // Ragged arrays: rows past a shorter array read 0 and an empty ID there.
  auto e = ReadText("{\"COUNT\":3,\"ID\":[\"a\"],\"FREQ\":[1,2,3],\"GPS\":[1]}");
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[2].id, "");
  EXPECT_EQ(e[2].props.nUploadInterval, 3);
  EXPECT_EQ(e[2].props.bGps, 0);
}

TEST(ListFileRead, IdThatIsMissingOrNotTextGivesAnEmptyIdAndKeepsTheRow) {
  auto e = ReadText("{\"COUNT\":2,\"FREQ\":[4,5]}");
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0].id, "");
  EXPECT_EQ(e[1].props.nUploadInterval, 5);

  e = ReadText("{\"COUNT\":3,\"ID\":[17,null,\"ok\"]}");
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].id, "");
  EXPECT_EQ(e[1].id, "");
  EXPECT_EQ(e[2].id, "ok");

  e = ReadText("{\"COUNT\":1,\"ID\":\"A\",\"FREQ\":{\"0\":9},\"UP\":[1]}");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].id, "");
  EXPECT_EQ(e[0].props.nUploadInterval, 0);
  EXPECT_EQ(e[0].props.bAutoUpload, 1);
}

TEST(ListFileRead, LongIdsAreCutTo39BytesOnACharacterBoundary) {
  std::string sixty(60, 'x');
  for (int i = 0; i < 60; ++i) sixty[static_cast<size_t>(i)] = static_cast<char>('A' + i % 26);
  auto e = ReadText("{\"COUNT\":1,\"ID\":[\"" + sixty + "\"]}");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].id, sixty.substr(0, 39));

  // 38 ASCII bytes and a two-byte character: the character would be split.
  e = ReadText("{\"COUNT\":1,\"ID\":[\"" + std::string(38, 'a') + "\xc3\xa9zz\"]}");
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].id, std::string(38, 'a'));
  // 37 ASCII bytes and the same character fit exactly.
  e = ReadText("{\"COUNT\":1,\"ID\":[\"" + std::string(37, 'a') + "\xc3\xa9zz\"]}");
  EXPECT_EQ(e[0].id, std::string(37, 'a') + "\xc3\xa9");
  // A zero byte ends the text as it would in szId.
  e = ReadText("{\"COUNT\":1,\"ID\":[\"AB\\u0000CD\"]}");
  EXPECT_EQ(e[0].id, "AB");
}

TEST(ListFileRead, CutIdTextNeverDropsMoreThanOneCharacter) {
  EXPECT_EQ(CutIdText(std::string(39, 'a'), 39), std::string(39, 'a'));
  EXPECT_EQ(CutIdText(std::string(35, 'a') + "\xf0\x9f\x9a\x97", 39),
            std::string(35, 'a') + "\xf0\x9f\x9a\x97");  // four-byte character ends at 39
  EXPECT_EQ(CutIdText(std::string(36, 'a') + "\xf0\x9f\x9a\x97", 39), std::string(36, 'a'));
  EXPECT_EQ(CutIdText(std::string(38, 'a') + "\xf0\x9f\x9a\x97", 39), std::string(38, 'a'));
  // Not UTF-8 at all: at most three bytes are given up.
  EXPECT_EQ(CutIdText(std::string(60, '\x80'), 39), std::string(36, '\x80'));
}

TEST(ListFileRead, RootThatIsNotAnObjectIsDamaged) {
  for (const char* text : {"[1,2]", "3", "\"COUNT\"", "null", "[{\"COUNT\":1,\"ID\":[\"a\"]}]"}) {
    SCOPED_TRACE(text);
    int result = 0;
    EXPECT_TRUE(ReadText(text, &result).empty());
    EXPECT_EQ(result, LIST_FILE_DAMAGED);
  }
}

// A document that stops half way must not give rows rebuilt from what the
// parser kept: their IDs would be written back empty at close.
TEST(ListFileRead, HalfADocumentGivesNoRowsAndSaysWhy) {
  DebugCapture debug;
  CTempDir dir;
  ASSERT_TRUE(dir.Write("list.txt", "{\"COUNT\":2,\"AD\":[1,1],\"ID\":[\"A\",\"B\"],\"FREQ\":[5,6], garbage"));
  std::vector<ListEntry> entries(1);
  std::string why;
  EXPECT_EQ(ReadListFile(dir.Path(), entries, &why), LIST_FILE_DAMAGED);
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(why, "does not parse as JSON");
  EXPECT_EQ(debug.Lines(), std::vector<std::string>{"dev - json parse failed."});

  int result = 0;
  EXPECT_TRUE(ReadText(std::string(200000, '['), &result).empty());
  EXPECT_EQ(result, LIST_FILE_DAMAGED);
  EXPECT_EQ(ReadListFile(dir.File("none"), entries), LIST_FILE_NONE);
}

// The largest fleet a machine could hold comes back whole, every ID and
// every value in its place (the first start after a 90,000-device run used
// to read only its first megabyte).
TEST(ListFileRead, FleetOfTwoHundredThousandRoundTrips) {
  constexpr int kRows = 200000;
  std::vector<ListEntry> entries(kRows);
  for (int i = 0; i < kRows; ++i) {
    entries[static_cast<size_t>(i)].id = "FLEET-" + std::to_string(i + 1);
    DeviceProperties& p = entries[static_cast<size_t>(i)].props;
    p.bAutoUpload = i % 2;
    p.nUploadInterval = i % 97;
    p.bGps = (i / 2) % 2;
    p.bCustomAlarm = (i / 3) % 2;
    p.bSpeedAlarm = (i / 5) % 2;
    p.nAutoOffline = i;
    p.nLiveViewOff = -i;
  }
  CTempDir dir;
  ASSERT_TRUE(WriteListFile(dir.Path(), entries));
  std::vector<ListEntry> back;
  ASSERT_EQ(ReadListFile(dir.Path(), back), LIST_FILE_LOADED);
  ASSERT_EQ(back.size(), entries.size());
  for (size_t i = 0; i < back.size(); ++i) {
    ASSERT_EQ(back[i].id, entries[i].id) << i;
    ASSERT_TRUE(back[i].props == entries[i].props) << i;
  }
}

}  // namespace
