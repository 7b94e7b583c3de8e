#pragma once
#include <json/value.h>

#include <cstdint>
#include <string>

// Non-throwing access to JSON received from a server or read from a file.
// jsoncpp throws on type mismatches; nothing received may reach such a call.

// Parses [begin, end) with Json::Reader into out (which the caller starts as
// null). Whatever the reader stored before an error stays in out. Returns true
// when the whole text parsed. Never throws.
bool JsonParse(const char* begin, const char* end, Json::Value& out, bool collectComments = true);

// Member key of v when v is an object and has it, else a null value.
const Json::Value& JsonMember(const Json::Value& v, const char* key);

// Integer reading of the system: null, string, array and object read 0; true 1,
// false 0; a real is truncated (and held to the 32-bit range); integers keep
// their low 32 bits.
int32_t JsonInt(const Json::Value& v);

// True and the text when v is a string.
bool JsonString(const Json::Value& v, std::string* out);

// The text of a string value, else the empty string.
std::string JsonText(const Json::Value& v);

// True when v is the string text, byte for byte.
bool JsonIsString(const Json::Value& v, const char* text);
