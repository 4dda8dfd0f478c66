#include "reference_model.h"

#include <array>

namespace reference_model {
namespace {

constexpr std::array<unsigned char, 13> header = {'[', 'C', 'h', 'e', 'c',  'k', 's',
                                                  'u', 'm', 's', ']', '\r', '\n'};
constexpr std::size_t staging_size = 256;
constexpr std::size_t longest_text = staging_size - 1;
constexpr int value_field_width = 8;

bool is_white_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_line_end(unsigned char c) { return c == '\r' || c == '\n'; }

// The digit's value, or -1 for a byte that is no hexadecimal digit.
int hex_digit(unsigned char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

bool header_at(std::span<const unsigned char> input, std::size_t at) {
  if (input.size() - at < header.size()) {
    return false;
  }
  for (std::size_t k = 0; k < header.size(); ++k) {
    if (input[at + k] != header[k]) {
      return false;
    }
  }
  return true;
}

bool checksum_line_at(std::span<const unsigned char> input, std::size_t at) {
  return input.size() - at >= 2 && input[at] == '0' && input[at + 1] == 'x';
}

void put_checksum(std::vector<unsigned char>& out, std::uint32_t checksum) {
  out.push_back(static_cast<unsigned char>(checksum & 0xFFU));
  out.push_back(static_cast<unsigned char>((checksum >> 8) & 0xFFU));
  out.push_back(static_cast<unsigned char>((checksum >> 16) & 0xFFU));
  out.push_back(static_cast<unsigned char>((checksum >> 24) & 0xFFU));
}

}  // namespace

std::size_t line_end_offset(std::span<const unsigned char> input, std::size_t start,
                            std::size_t n) {
  for (std::size_t k = 0; k < n && start + k < input.size(); ++k) {
    if (is_line_end(input[start + k])) {
      return k;
    }
  }
  return 0;
}

std::uint32_t read_value_field(std::span<const unsigned char> input, std::size_t from) {
  std::size_t at = from;
  const auto more = [&] { return at < input.size(); };

  // White space is skipped and does not count toward the width.
  while (more() && is_white_space(input[at])) {
    ++at;
  }
  int width = value_field_width;
  bool negative = false;
  if (more() && (input[at] == '+' || input[at] == '-')) {
    negative = input[at] == '-';
    ++at;
    --width;
  }
  // An optional 0x or 0X; its 0 is a digit in its own right, so "0x" followed
  // by nothing else still reads as 0.
  if (width > 0 && more() && input[at] == '0') {
    ++at;
    --width;
    if (width > 0 && more() && (input[at] == 'x' || input[at] == 'X')) {
      ++at;
      --width;
    }
  }
  std::uint32_t checksum = 0;
  while (width > 0 && more() && hex_digit(input[at]) >= 0) {
    checksum = checksum * 16U + static_cast<std::uint32_t>(hex_digit(input[at]));
    ++at;
    --width;
  }
  if (negative) {
    checksum = 0U - checksum;  // modulo 2^32
  }
  return checksum;
}

conversion convert(std::span<const unsigned char> input) {
  const std::size_t length = input.size();
  conversion result;
  std::vector<unsigned char>& out = result.table;

  std::size_t cursor = 0;
  bool in_section = false;
  bool first_entry = true;
  std::uint32_t checksum = 0;
  std::array<unsigned char, staging_size> staging{};

  while (cursor < length) {
    if (!in_section) {
      if (header_at(input, cursor)) {
        in_section = true;
      }
      ++cursor;
      continue;
    }
    if (!checksum_line_at(input, cursor)) {
      ++cursor;
      continue;
    }

    result.line_starts.push_back(cursor);
    cursor += 2;
    checksum = read_value_field(input, cursor);
    cursor += 9;  // the value field's 8 positions and the separator

    if (first_entry) {
      out.push_back(0x01);
      first_entry = false;
    } else {
      out.push_back(0x00);
    }
    out.push_back(0x2B);
    put_checksum(out, checksum);
    checksum = 0;  // NOLINT(clang-analyzer-deadcode.DeadStores): each line starts from 0

    const std::size_t remaining = cursor < length ? length - cursor : 0;
    const std::size_t text_length = line_end_offset(input, cursor, remaining);
    if (text_length == 0) {
      result.text_lengths.push_back(0);
      break;
    }

    // Bytes up to the first zero byte, zero bytes after it; at most 255 of
    // them, and a zero byte behind the last.
    const std::size_t kept = text_length < longest_text ? text_length : longest_text;
    bool zero_seen = false;
    for (std::size_t k = 0; k < kept; ++k) {
      if (input[cursor + k] == 0) {
        zero_seen = true;
      }
      staging[k] = zero_seen ? 0 : input[cursor + k];
    }
    staging[kept] = 0;
    for (std::size_t k = 0; k < kept; ++k) {
      out.push_back(staging[k]);
    }
    result.text_lengths.push_back(kept);

    ++cursor;  // on to the text's second byte
  }

  out.push_back(0x00);
  out.push_back(0x00);
  return result;
}

std::string layout_fault(std::span<const unsigned char> table,
                         std::span<const std::size_t> text_lengths) {
  std::size_t expected_length = 2;
  for (const std::size_t text_length : text_lengths) {
    expected_length += 6 + text_length;
  }
  if (table.size() != expected_length) {
    return "table has " + std::to_string(table.size()) + " bytes, its entries make " +
           std::to_string(expected_length);
  }
  if (table[table.size() - 2] != 0x00 || table[table.size() - 1] != 0x00) {
    return "table does not end in 00 00";
  }
  if ((table[0] == 0x01) != !text_lengths.empty()) {
    return "first byte is " + std::to_string(table[0]) + " with " +
           std::to_string(text_lengths.size()) + " entries";
  }

  std::size_t at = 0;
  for (std::size_t entry = 0; entry < text_lengths.size(); ++entry) {
    const std::string which = "entry " + std::to_string(entry + 1);
    const unsigned char marker = entry == 0 ? 0x01 : 0x00;
    if (table[at] != marker || table[at + 1] != 0x2B) {
      return which + " has no proper marker";
    }
    const std::size_t text_length = text_lengths[entry];
    if (text_length > longest_text) {
      return which + " has a text of " + std::to_string(text_length) + " bytes";
    }
    if (text_length == 0 && entry + 1 != text_lengths.size()) {
      return which + " has an empty text but is not the last";
    }
    for (std::size_t k = 0; k < text_length; ++k) {
      if (is_line_end(table[at + 6 + k])) {
        return which + " has a line end in its text";
      }
    }
    at += 6 + text_length;
  }
  if (at != table.size() - 2) {
    return "end marker is not where the entries end";
  }
  return {};
}

}  // namespace reference_model
