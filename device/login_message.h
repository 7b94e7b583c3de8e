#pragma once
#include <json/value.h>

// The CONNECT message a device logs in with: its ID as DSNO and CARNUM, 16
// channels, device class 4. Pure, any thread.
Json::Value BuildLoginMessage(const char* szId);
