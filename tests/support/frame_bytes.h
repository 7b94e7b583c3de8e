#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Hand-built frame file chunks for tests, written byte by byte from the chunk
// layouts (independent of the maker code under test).

using Bytes = std::vector<uint8_t>;

// AVAPI chunk: channel byte, type digit ('2'..'6'), "dc", 24-bit payload and
// extension lengths, the extension area ext, then payloadLen bytes of fill.
Bytes AvapiChunk(uint8_t channel, char type, const Bytes& ext, size_t payloadLen, uint8_t fill = 0x55);

// One extension record: type, 24-bit length (4 + body size), body.
Bytes ExtRecord(uint8_t type, const Bytes& body);
// The same with a length field of its own choosing (malformed records).
Bytes ExtRecordWithLength(uint8_t type, uint32_t lengthField, const Bytes& body);

// H264 video chunk: channel digit, "0dc" (key) or "1dc", codec mark, payload
// length, extension length extLen, time stamp in µs, extLen bytes, payload.
Bytes H264Chunk(char channelDigit, bool key, uint64_t timeUs, size_t payloadLen, const char* mark = "H264",
                size_t extLen = 0);
// Only the 24-byte header of an H264 video chunk, with any length fields.
Bytes H264Head(char channelDigit, bool key, uint64_t timeUs, uint32_t payloadLen, uint16_t extLen,
               const char* mark = "H264");

// Audio chunk: channel digit, byte 1 'x', "wb", two unused bytes, 16-bit payload length, payload.
Bytes AudioChunk(char channelDigit, size_t payloadLen);

void AppendBytes(Bytes& out, const Bytes& more);

// Writes bytes to a fresh file under the test temp directory; returns its path.
std::string WriteFrameTempFile(const std::string& name, const Bytes& bytes);
