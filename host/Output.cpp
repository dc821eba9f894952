#include "host/Output.h"

#include <algorithm>
#include <iostream>

#include "base/Hex.h"

namespace trovex {

void ReportError(std::string_view message) {
  std::cout.flush();
  std::cerr << "trovex: " << VisibleText(message) << '\n';
}

std::string CountOf(uint64_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

namespace {

std::string JsonCharacter(std::string_view text, size_t at, Utf8Char c) {
  switch (c.CodePoint) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    default:
      if (IsHiddenCodePoint(c.CodePoint)) return HexEscape('u', c.CodePoint, 4);
      return std::string(text.substr(at, c.Length));
  }
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string json = "\"";
  for (size_t at = 0; at < text.size();) {
    Utf8Char c = DecodeUtf8(text, at);
    if (c.Length == 0) {
      json += "\\ufffd";
      at += 1;
    } else {
      json += JsonCharacter(text, at, c);
      at += c.Length;
    }
  }
  return json + "\"";
}

std::string JsonTextField(std::string_view key, std::string_view text) {
  std::string field = JsonString(key) + ":" + JsonString(text);
  if (!IsValidUtf8(text)) field += "," + JsonString(std::string(key) + "_hex") + ":\"" + HexBytes(text) + "\"";
  return field;
}

std::string CsvCell(std::string_view text) {
  std::string cell;
  AppendCsvCell(cell, text);
  return cell;
}

// The visible form neither adds nor escapes a comma or a quote, so the text
// itself tells whether its cell is quoted.
void AppendCsvCell(std::string& row, std::string_view text) {
  if (std::none_of(text.begin(), text.end(), [](char c) { return c == ',' || c == '"'; })) {
    AppendVisibleText(row, text);
    return;
  }
  std::string visible;
  AppendVisibleText(visible, text);
  row += '"';
  std::string_view rest = visible;
  for (size_t quote = rest.find('"'); quote != std::string_view::npos; quote = rest.find('"')) {
    row.append(rest.data(), quote + 1);
    row += '"';
    rest.remove_prefix(quote + 1);
  }
  row.append(rest);
  row += '"';
}

}  // namespace trovex
