#include "transfer/progress_text.h"

#include <gtest/gtest.h>

#include "transfer/transfer_session.h"

namespace vorncom::transfer {
namespace {

TEST(ProgressTextTest, RateSwitchesToMegabitsAbove99_99Kilobits) {
  const struct {
    int32_t delta;
    const char* text;
  } cases[] = {
      {0, "(0,00 Kbits/segundo)"},
      {128, "(1,00 Kbits/segundo)"},
      {12'798, "(99,98 Kbits/segundo)"},
      {12'799, "(0,10 Mbits/segundo)"},  // 99.992… is already above the threshold
      {12'800, "(0,10 Mbits/segundo)"},
      {131'072, "(1,00 Mbits/segundo)"},
      {1'000'000, "(7,63 Mbits/segundo)"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatRate(c.delta), c.text) << c.delta;
}

TEST(ProgressTextTest, RemainingTimeAndItsFormat) {
  EXPECT_EQ(SecondsLeft(250'000, 0, 25'000), 11);
  EXPECT_EQ(SecondsLeft(4096, 4096, 100), 0);
  EXPECT_EQ(SecondsLeft(100, 99, 1000), 1);
  const struct {
    int64_t seconds;
    const char* text;
  } cases[] = {{0, "00:00:00"},
               {11, "00:00:11"},
               {3599, "00:59:59"},
               {3600, "01:00:00"},
               {359'999, "99:59:59"},
               {360'000, "100:00:00"},
               {2'147'483'647, "596523:14:07"}};
  for (const auto& c : cases) EXPECT_EQ(FormatRemainingTime(c.seconds), c.text) << c.seconds;
  // A whole 32-bit file at one byte per second.
  EXPECT_EQ(FormatRemainingTime(SecondsLeft(INT32_MAX, 0, 1)), "596523:14:08");
}

TEST(ProgressTextTest, PercentTruncates) {
  EXPECT_EQ(ProgressPercent(2048, 4096), 50);
  EXPECT_EQ(ProgressPercent(1, 3), 33);
  EXPECT_EQ(ProgressPercent(2, 3), 66);
  EXPECT_EQ(ProgressPercent(4096, 4096), 100);
  EXPECT_EQ(ProgressPercent(5, 0), 0);
  EXPECT_EQ(ProgressPercent(5, -1), 0);
}

}  // namespace
}  // namespace vorncom::transfer
