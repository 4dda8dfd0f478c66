#include "text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace dbgparse::text {

std::string quoted(std::span<const unsigned char> bytes, std::size_t at_most) {
  std::string out = "\"";
  for (const unsigned char c : bytes.first(std::min(bytes.size(), at_most))) {
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      std::array<char, 5> escape{};
      std::snprintf(escape.data(), escape.size(), "\\x%02x", static_cast<unsigned>(c));
      out += escape.data();
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  if (bytes.size() > at_most) {
    out += "...";
  }
  return out;
}

std::string shown_path(std::string_view path) {
  std::string out;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      std::array<char, 5> escape{};
      std::snprintf(escape.data(), escape.size(), "\\x%02x", static_cast<unsigned>(byte));
      out += escape.data();
    } else {
      out += c;
    }
  }
  return out;
}

std::string hex(std::uint32_t checksum) {
  std::array<char, 11> out{};
  std::snprintf(out.data(), out.size(), "0x%08x", static_cast<unsigned>(checksum));
  return out.data();
}

std::string entry_line(std::size_t offset, std::uint32_t checksum,
                       std::span<const unsigned char> name, std::size_t padding) {
  std::string out = std::to_string(offset) + ' ' + hex(checksum) + ' ' + quoted(name);
  if (padding > 0) {
    out += " padding " + std::to_string(padding);
  }
  out += '\n';
  return out;
}

namespace {

// "PROGRAM: PATH", how each line about a file starts.
std::string about(std::string_view program, std::string_view path) {
  std::string out(program);
  out += ": ";
  out += shown_path(path);
  return out;
}

}  // namespace

std::string warning_line(std::string_view program, std::string_view path, std::size_t line,
                         std::string_view message) {
  std::string out = about(program, path);
  if (line > 0) {
    out += ':' + std::to_string(line);
  }
  out += ": warning: ";
  out += message;
  out += '\n';
  return out;
}

std::string left_out_line(std::string_view program, std::string_view path, std::size_t entry,
                          std::size_t offset, std::string_view message) {
  std::string out = about(program, path);
  out += ": entry " + std::to_string(entry) + " at byte " + std::to_string(offset) + " left out: ";
  out += message;
  out += '\n';
  return out;
}

std::string more_warnings_line(std::string_view program, std::string_view path, std::size_t count) {
  return about(program, path) + ": " + std::to_string(count) + " more warnings\n";
}

}  // namespace dbgparse::text
