#include "app/expected_rates.h"

#include <algorithm>

#include "device/dev_q5.h"

namespace {
constexpr double kGpsPeriodSec = 10;
constexpr double kKeepAlivePeriodSec = 15;
}  // namespace

void AddExpectedRates(const CDevQ5& dev, uint32_t passPauseMs, ExpectedRates* sum) {
  if (!dev.bOnline.load(std::memory_order_relaxed)) return;
  double passSec = passPauseMs / 1000.0;
  if (dev.bGps.load(std::memory_order_relaxed) == 1) sum->dGps += 1 / kGpsPeriodSec;
  sum->dKeepAlives += 1 / kKeepAlivePeriodSec;
  if (dev.bAutoUpload.load(std::memory_order_relaxed) != 1) return;
  int32_t cycle = 1 + (dev.bSpeedAlarm.load(std::memory_order_relaxed) == 1 ? 1 : 0) +
                  (dev.bCustomAlarm.load(std::memory_order_relaxed) == 1 ? 2 : 0);
  double period = std::max(static_cast<double>(dev.nUploadInterval.load(std::memory_order_relaxed)), passSec);
  if (period > 0) sum->dAlarms += cycle / period;
}
