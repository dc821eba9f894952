// Text the host program prints: error lines, counts and JSON strings.
#ifndef TROVEX_HOST_OUTPUT_H
#define TROVEX_HOST_OUTPUT_H

#include <cstdint>
#include <string>
#include <string_view>

// Writes "trovex: message" as one line on stderr.
void ReportError(std::string_view message);

// text as it may reach a terminal: control characters (C0, DEL, C1) and
// bytes that are not UTF-8 written as \xHH, everything else as it is. Names
// in a cache were chosen by strangers and may hold terminal commands.
std::string Shown(std::string_view text);

// "1 entry", "2 entries": count and the noun that fits it.
std::string CountOf(uint64_t count, std::string_view one, std::string_view many);

// text as a JSON string, quotes included: quotes, backslashes and control
// characters escaped, every other byte (also from 0x80 up) as it is.
std::string JsonString(std::string_view text);

#endif
