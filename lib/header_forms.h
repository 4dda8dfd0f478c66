// The forms in which people's DBG files hold the checksum section's header.
// The conversion knows one alone, "[Checksums]" CR LF; an editor or a tool
// may have saved the line with other line ends, in another case, with blanks
// around it, with a byte order mark, or as UTF-16. Knowing those forms lets
// the program tell a DBG file that the conversion would not read.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace dbgparse::dbg {

// How a line that reads as the checksum section's header is written.
enum class header_form {
  exact,       // "[Checksums]" CR LF: the one that starts the section (anywhere
               // in a line, as the conversion finds it)
  lf_only,     // "[Checksums]" ending in LF alone
  cr_only,     // ending in CR alone, or at the end of the bytes without line end
  other_case,  // another case, e.g. "[checksums]"
  blanks,      // blanks or tabs before or after it on its line
  utf16,       // UTF-16 text, either byte order, with or without BOM
  utf8_bom,    // a UTF-8 byte order mark at the start of the bytes, before the
               // header on the first line
};

struct header_match {
  header_form form;    // the line's first departure, as ranked below
  std::size_t offset;  // of the header's '[' in bytes (of its first byte in UTF-16)
  // Every departure of the line, in that order: `form` first; none for the
  // exact header. UTF-16 text is named alone.
  std::vector<header_form> departures;
};

// The first header-like line in `bytes`. The exact header wins wherever it is
// (the conversion's own search). Otherwise the first line that, ignoring case
// and blanks or tabs around it, reads "[Checksums]" with any line end (CR LF,
// LF, CR, or none at the end of the bytes), in 8-bit text or in UTF-16 of
// either byte order. A line with several departures is named by the first of:
// utf16, utf8_bom, other_case, blanks, lf_only or cr_only.
std::optional<header_match> find_header(std::span<const unsigned char> bytes);

}  // namespace dbgparse::dbg
