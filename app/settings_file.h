#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

// The Settings object of devset.txt: "REG" (register server, "address:port")
// and "VF" (frame file path). Other members are kept and written back.
// All functions run on the window's thread (Settings has that one owner).

constexpr const char* SETTINGS_KEY_REG = "REG";
constexpr const char* SETTINGS_KEY_VF = "VF";
constexpr const char* SETTINGS_DEFAULT_REG = "127.0.0.1:5556";
constexpr const char* SETTINGS_DEFAULT_VF = "";

// Replaces settings with the content of dir/devset.txt and applies the
// defaults (ApplySettingsDefaults). A missing file gives the defaults; a text
// that does not parse writes "dev - json parse failed." and keeps what the
// reader built before the error. Returns ReadJsonFile's result, with its
// reason in *pWhy; *pDefaulted gets the keys ("REG", "VF") that were missing
// or not text and took their defaults.
int LoadSettings(const std::string& dir, Json::Value& settings, std::string* pWhy = nullptr,
                 std::vector<std::string>* pDefaulted = nullptr);

// Makes settings an object holding string "REG" and "VF" members. A root that
// is not an object (array, number, text, null) becomes an empty object, so
// members of such a file are dropped. A "REG" or "VF" that is missing, null or
// of any type other than string is treated as missing and gets its default.
void ApplySettingsDefaults(Json::Value& settings);

// The "REG" and "VF" texts; the defaults when the member is not a string.
std::string SettingsReg(const Json::Value& settings);
std::string SettingsVf(const Json::Value& settings);

// Sets "REG" and "VF" to the given texts (as strings, empty ones included)
// and writes the whole object to dir/devset.txt. False when the file could not
// be written (the members are set all the same).
bool StoreSettings(const std::string& dir, Json::Value& settings, const std::string& reg,
                   const std::string& vf);

// Writes settings to dir/devset.txt; false when that failed.
bool WriteSettings(const std::string& dir, const Json::Value& settings);

// Splits a "REG" text at its first ':' into the address before it and the
// port: the decimal digits at the start of the text after the ':' (the first
// non-digit ends them; no digits give 0; a number past the 32-bit range holds
// at 2147483647). False, with address and port untouched, when there is no ':'.
bool SplitRegAddress(const std::string& reg, std::string& address, int32_t& port);
