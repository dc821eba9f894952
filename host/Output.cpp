#include "host/Output.h"

#include <iostream>

void ReportError(std::string_view message) {
  std::cout.flush();
  std::cerr << "trovex: " << message << '\n';
}

std::string CountOf(uint64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

std::string JsonString(std::string_view text) {
  constexpr char kHex[] = "0123456789abcdef";
  std::string json = "\"";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': json += "\\\""; break;
      case '\\': json += "\\\\"; break;
      case '\n': json += "\\n"; break;
      case '\r': json += "\\r"; break;
      case '\t': json += "\\t"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          json += "\\u00";
          json += kHex[byte >> 4];
          json += kHex[byte & 0x0F];
        } else {
          json += c;
        }
    }
  }
  return json + "\"";
}
