// The outputs that the table never replaces: other DBG files. Two DBG files
// dropped on the program at once arrive as input and output, and a name
// typed in the wrong order does the same; the second one is someone's work.
#pragma once

#include <string>

namespace dbgparse {

// Whether `output` names an existing file, other than the one `input` names,
// that is a DBG file: its name ends in ".dbg" in any case, or its first
// 64 KiB hold the checksum section's header in any of the forms DBG files
// have it (header_forms.h). A new output, the input itself, and a file that
// cannot be examined are not kept.
bool is_kept_output(const std::string& output, const std::string& input);

}  // namespace dbgparse
