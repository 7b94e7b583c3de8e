// Values the dialogs build or check without showing a window.
#include <gtest/gtest.h>

#include <QString>

#include "app/ui/dlg_set.h"
#include "app/ui/send_sample.h"
#include "app/ui/whole_number.h"

namespace {

TEST(WholeNumber, AcceptsSignedDigitsWithinThe32BitRange) {
  struct {
    const char* text;
    int32_t value;
  } good[] = {{"0", 0},           {"17", 17},   {"+7", 7},   {"-12", -12}, {" \t42  ", 42},
              {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"007", 7}, {"-0", 0}};
  for (const auto& g : good) {
    int32_t v = 99;
    EXPECT_TRUE(ParseWholeNumber(QString::fromUtf8(g.text), v)) << g.text;
    EXPECT_EQ(v, g.value) << g.text;
  }
}

TEST(WholeNumber, RefusesEverythingElseAndLeavesTheValue) {
  const char* bad[] = {"",    " ",    "-",         "+",        "1.5",         "1e3",         "0x10",
                       "1 2", "12x",  "--1",       "+-1",      "2147483648",  "-2147483649", "99999999999999999999",
                       "١٢", "１２", "\n5",       "5\n"};
  for (const char* text : bad) {
    int32_t v = 99;
    EXPECT_FALSE(ParseWholeNumber(QString::fromUtf8(text), v)) << text;
    EXPECT_EQ(v, 99) << text;
  }
}

TEST(SendSample, IsTheCompactPositionMessageWithTheOpeningTime) {
  LocalTime t;
  t.nYear = 2024;
  t.nMonth = 1;
  t.nDay = 2;
  t.nHour = 3;
  t.nMinute = 4;
  t.nSecond = 5;
  EXPECT_EQ(BuildSendSample(t),
            "{\"MODULE\":\"DEVEMM\",\"OPERATION\":\"SPI\",\"PARAMETER\":{\"M\":1,\"P\":{\"C\":7050,"
            "\"J\":\"115.5598\",\"S\":9050,\"T\":\"20240102030405\",\"V\":0,\"W\":\"25.3310\"}},"
            "\"SESSION\":\"\"}");
}

TEST(SetPath, BackslashesBecomeForwardSlashes) {
  EXPECT_EQ(ForwardSlashPath(QStringLiteral("C:\\clips\\a.h264")), QStringLiteral("C:/clips/a.h264"));
  EXPECT_EQ(ForwardSlashPath(QStringLiteral("/srv/frames/b.h264")), QStringLiteral("/srv/frames/b.h264"));
  EXPECT_EQ(ForwardSlashPath(QStringLiteral("\\\\host\\share\\")), QStringLiteral("//host/share/"));
  EXPECT_STREQ(SET_FILE_FILTER, "H264 Files (*.*);;All Files (*.*)");
}

}  // namespace
