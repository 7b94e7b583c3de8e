#pragma once
#include <cstdint>
#include <string>

// Address text to number: up to four "%d.%d.%d.%d" numbers (missing ones 0)
// combined as ((a << 8 | b) << 8 | c) << 8 | d in 32-bit arithmetic.
uint32_t AddressTextToIp(const char* text);

// True when host holds only digits and dots (an address, not a name).
bool IsNumericHost(const std::string& host);

// The IPv4 address (host order) of a register server's host: dotted numbers
// as AddressTextToIp reads them, or a name looked up by the system (the first
// IPv4 address it gives). False, with the reason in *why, for an empty host, a
// name that cannot be resolved, and 0.0.0.0, which would reach this machine
// instead of the server that was meant. A name lookup may block: never on a
// share thread.
bool ResolveServerHost(const std::string& host, uint32_t* ip, std::string* why);
