#pragma once
#include <cstdint>

class CDevQ5;

// Messages per second that a logged-in device is due to send by its
// settings: GPS every 10 s when on, a keep-alive every 15 s, and with
// periodic alarms on, its cycle (speed and the customised pair when on, video
// lost always) every FREQ seconds. A period shorter than the driver's pass
// fires once per pass.
struct ExpectedRates {
  double dGps = 0;
  double dAlarms = 0;
  double dKeepAlives = 0;
};

// Adds what dev is due to send to *sum when it is logged in. Any thread.
void AddExpectedRates(const CDevQ5& dev, uint32_t passPauseMs, ExpectedRates* sum);
