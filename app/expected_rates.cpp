#include "app/expected_rates.h"

#include <algorithm>

#include "device/dev_q5.h"

namespace {
constexpr double kGpsPeriodSec = 10;
constexpr double kKeepAlivePeriodSec = 15;
}  // namespace

void AddExpectedRates(const CDevQ5& dev, uint32_t passPauseMs, ExpectedRates* sum) {
  if (!dev.IsOnline()) return;
  const DeviceProperties p = dev.GetProperties();
  double passSec = passPauseMs / 1000.0;
  if (p.bGps == 1) sum->dGps += 1 / kGpsPeriodSec;
  sum->dKeepAlives += 1 / kKeepAlivePeriodSec;
  if (p.bAutoUpload != 1) return;
  int32_t cycle = 1 + (p.bSpeedAlarm == 1 ? 1 : 0) + (p.bCustomAlarm == 1 ? 2 : 0);
  double period = std::max(static_cast<double>(p.nUploadInterval), passSec);
  if (period > 0) sum->dAlarms += cycle / period;
}
