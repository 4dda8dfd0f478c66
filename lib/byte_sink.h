// Where the conversion hands its table and the listing its lines.
#pragma once

#include <functional>
#include <span>

namespace dbgparse {

// Receives bytes piece by piece, in order, never an empty piece. Returns
// false to stop the producer early (for instance when writing the piece
// failed).
using byte_sink = std::function<bool(std::span<const unsigned char>)>;

}  // namespace dbgparse
