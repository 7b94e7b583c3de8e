// The check before a fleet goes online: a fleet that cannot fit the process
// or the machine is refused with the figures that bound it.
#include "app/preflight.h"

#include <gtest/gtest.h>

#include <string>

namespace {

SystemLimits Limits(uint64_t files, int32_t low, int32_t high) {
  SystemLimits l;
  l.nOpenFilesSoft = l.nOpenFilesHard = files;
  l.nPortLow = low;
  l.nPortHigh = high;
  return l;
}

TEST(Preflight, RefusesWhatDoesNotFitWithTheBindingFigure) {
  std::string why;
  const SystemLimits here = Limits(20000, 32768, 60999);  // 28,232 ports
  EXPECT_TRUE(PreflightOnline({19200, 1}, here, &why)) << why;

  EXPECT_FALSE(PreflightOnline({19201, 4}, Limits(100000, 32768, 60999), &why));
  EXPECT_NE(why.find("19201 devices would be online, but one process holds at most 19200 connections"),
            std::string::npos) << why;

  EXPECT_FALSE(PreflightOnline({15000, 1}, Limits(10000, 32768, 60999), &why));
  EXPECT_NE(why.find("15000 devices need about 15064 open files, but this process may open 10000"), std::string::npos)
      << why;

  // Ports run short before the table does when the range is narrow; a second
  // source address halves what each needs.
  const SystemLimits narrow = Limits(20000, 50000, 59999);  // 10,000 ports
  EXPECT_FALSE(PreflightOnline({12000, 1}, narrow, &why));
  EXPECT_NE(why.find("12000 devices from 1 source address(es) to one server need 12000 ports per address, but the "
                     "system has 10000 ephemeral ports (50000-59999)"),
            std::string::npos) << why;
  EXPECT_TRUE(PreflightOnline({12000, 2}, narrow, &why)) << why;
  // Unknown limits do not refuse.
  EXPECT_TRUE(PreflightOnline({12000, 1}, SystemLimits{}, &why)) << why;
}

}  // namespace
