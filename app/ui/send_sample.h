#pragma once
#include <string>

#include "platform/local_time.h"

// The sample message SEND opens with: a GPS position upload with fixed
// sample values and the time now, in the compact JSON form, e.g.
// {"MODULE":"DEVEMM","OPERATION":"SPI","PARAMETER":{"M":1,"P":{"C":7050,
// "J":"115.5598","S":9050,"T":"20240102030405","V":0,"W":"25.3310"}},"SESSION":""}
std::string BuildSendSample(const LocalTime& now);
