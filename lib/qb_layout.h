// The byte layout of a QB checksum table, shared by the code that writes
// tables and the code that reads them back.
//
// A table is a run of entries closed by the end marker. Each entry is a
// 2-byte marker (01 2B for the first entry, 00 2B for each later one), the
// checksum as 4 bytes least significant first, then the text's bytes with no
// terminator of their own: the next marker's or the end marker's first byte,
// always zero, ends the text. A table without entries is the end marker alone.
#pragma once

#include <array>
#include <cstddef>

namespace dbgparse::qb {

inline constexpr std::size_t marker_size = 2;
inline constexpr std::size_t checksum_size = 4;
// Marker and checksum: the bytes every entry has before its text.
inline constexpr std::size_t head_size = marker_size + checksum_size;

// The first byte of a marker tells the first entry from later ones; the
// second byte is the same for both.
inline constexpr unsigned char first_entry_marker = 0x01;
inline constexpr unsigned char entry_marker = 0x00;
inline constexpr unsigned char entry_tag = 0x2B;

inline constexpr std::array<unsigned char, marker_size> end_marker{0x00, 0x00};

// Longest text an entry holds; the converter cuts longer texts to this.
inline constexpr std::size_t max_text_length = 255;

}  // namespace dbgparse::qb
