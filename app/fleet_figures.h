#pragma once
#include "app/fleet.h"
#include "net/stats_report.h"

// The fleet's figures for the stats lines, the stats file, the metrics and
// the end summary: the devices by state and their claimed streams (levels),
// the messages sent by kind, the streams started, the bytes and every
// failure kind (totals), and the driver's pass lengths. The names are those
// zel-server uses for the same things (logins, keepalives, gps, alarms ...).
StatFigures FleetFigures(const FleetStats& st);
