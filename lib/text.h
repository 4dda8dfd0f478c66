// The texts that the warnings, qbdump and the programs all write: one
// spelling of each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace dbgparse::text {

// Bytes in double quotes as a terminal shows them: printable ASCII as
// itself, every other byte, the quote and the backslash as \xhh. Bytes
// past the first `at_most` are left out, with "..." after the closing quote.
std::string quoted(std::span<const unsigned char> bytes, std::size_t at_most = SIZE_MAX);

// A file's path as a terminal may be given it: each byte below 0x20 and
// 0x7F (which would move the cursor or start an escape sequence) as \xhh,
// every other byte as it is, so that names in any character set show.
std::string shown_path(std::string_view path);

// A checksum as "0x" and 8 lower-case hexadecimal digits.
std::string hex(std::uint32_t checksum);

// A table's entry as qbdump --entries writes it: its marker's offset in
// decimal, its checksum as hex() shows it, its name as quoted() shows it
// whole, then " padding N" when N zero bytes pad the name; a line end last.
std::string entry_line(std::size_t offset, std::uint32_t checksum,
                       std::span<const unsigned char> name, std::size_t padding);

// A warning as the programs print it, in the form compilers use, so that
// editors and CI logs can jump to the line:
//   PROGRAM: PATH:LINE: warning: MESSAGE
//   PROGRAM: PATH: warning: MESSAGE        (line 0: about the input as a whole)
// followed by a line end; PATH as shown_path shows it.
std::string warning_line(std::string_view program, std::string_view path, std::size_t line,
                         std::string_view message);

// The line that tells of an entry a listing leaves out, numbered `entry`
// from 1 with its marker at `offset`:
//   PROGRAM: PATH: entry ENTRY at byte OFFSET left out: MESSAGE
// followed by a line end; PATH as shown_path shows it.
std::string left_out_line(std::string_view program, std::string_view path, std::size_t entry,
                          std::size_t offset, std::string_view message);

// The line that stands for the warnings not printed, after the ones shown:
//   PROGRAM: PATH: COUNT more warnings
// followed by a line end; PATH as shown_path shows it.
std::string more_warnings_line(std::string_view program, std::string_view path, std::size_t count);

}  // namespace dbgparse::text
