// Where the conversion hands its table and the listing its lines.
#pragma once

#include <functional>
#include <span>

namespace dbgparse {

// Receives bytes piece by piece, in order, never an empty piece. Returns
// false to stop the producer early (for instance when writing the piece
// failed).
using byte_sink = std::function<bool(std::span<const unsigned char>)>;

// Where a table's writer gets the memory it fills, for a caller that writes
// the pieces elsewhere (on a thread of its own, say) without copying them:
// each full piece is handed over in exchange for the memory of the next.
class piece_exchange {
 public:
  piece_exchange() = default;
  piece_exchange(const piece_exchange&) = delete;
  piece_exchange& operator=(const piece_exchange&) = delete;
  virtual ~piece_exchange() = default;

  // Takes the piece just filled, `full`: the first bytes of the memory the
  // previous call returned (empty on the first call, never empty later).
  // Returns the memory for the next piece, at least 1 KiB, or an empty span
  // to stop the table, after which no call comes. The caller owns all the
  // memory and may write a piece out while the next one is being filled.
  virtual std::span<unsigned char> next_piece(std::span<const unsigned char> full) = 0;
  // Takes the table's last piece, never empty; false when it could not.
  virtual bool last_piece(std::span<const unsigned char> full) = 0;
};

}  // namespace dbgparse
