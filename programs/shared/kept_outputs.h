// The outputs that the programs never replace: other DBG files. Two DBG
// files dropped on dbgparse at once arrive as input and output, a name
// typed in the wrong order does the same, and qbdump's listing is most often
// given a .dbg name: an existing DBG file is someone's work.
#pragma once

#include <string>

namespace dbgparse {

// Whether `output` names an existing file, other than the one `input` names,
// that is a DBG file: its name ends in ".dbg" in any case, or its first
// 64 KiB hold the checksum section's header in any of the forms DBG files
// have it (header_forms.h). A new output, the input itself, and a file that
// cannot be examined are not kept.
bool is_kept_output(const std::string& output, const std::string& input);

// Whether `path` names an existing file that is a DBG file, by the same rule.
bool is_dbg_file(const std::string& path);

}  // namespace dbgparse
