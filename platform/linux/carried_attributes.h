// What a replacement must carry over from the file it replaces besides the
// contents: the owner, the group and the extended attributes, the access
// list among them.
#pragma once

#include <sys/stat.h>

namespace dbgparse::platform::posix {

enum class carried {
  all,          // `copy` now grants what `original` grants, no more
  not_allowed,  // this user may not give it all: write in place instead
  failed,       // the system failed (no memory, no space): give up
};

// Gives `copy`, a file that no one but its owner may use yet, the owner,
// group and extended attributes of `original` (whose status is `status`).
// The owner comes first, so that what the file grants is always granted to
// the old file's owner, group and named users, never to others; the access
// list comes last. The permission bits are left to the caller.
carried carry_owner_and_attributes(int original, const struct stat& status, int copy);

}  // namespace dbgparse::platform::posix
