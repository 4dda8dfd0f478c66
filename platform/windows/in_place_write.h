// Writing an existing file in place, once the whole table is held in
// memory: with the whole file locked against every run writing it so, its
// name checked and the space reserved (where the file system can reserve
// it), the table goes over the old contents, which are cut to its length.
// Any failure before that write leaves the old file as it was.
#pragma once

#include <string>

#include "output_record.h"
#include "win32_support.h"

namespace dbgparse::platform::windows {

// Puts `out.table` over the contents of `file`, which `path` must still name
// (`identity`) unless it is empty. The lock is released once the file is cut
// to the table's length.
bool write_held_table(output_record& out, HANDLE file, const std::wstring& path,
                      const file_identity& identity);

}  // namespace dbgparse::platform::windows
