#pragma once
#include <json/value.h>

#include <string>

// The compact JSON text of every message and file: no blanks, no trailing
// line feed, object members in ascending byte order of their keys, integers in
// decimal, reals by "%#.16g" with trailing zeros cut back to one, strings with
// quote, backslash and control characters escaped and every other byte
// (UTF-8 included) passed through.
std::string WriteCompactJson(const Json::Value& value);

// Appends the compact text of value to out.
void AppendCompactJson(std::string& out, const Json::Value& value);

// The text of one real number as the writer writes it ("2.50", "3.0").
std::string FormatJsonReal(double value);
