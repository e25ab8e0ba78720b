#pragma once
// The controller's flash as a byte map: 0xFF wherever nothing was written.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/state.h"

namespace tessaro::sim {

class Flash {
 public:
  // The flash file's bytes: byte i is address i. Bytes other than 0xFF count
  // as written; a 0xFF byte cannot be told from an unwritten one. False when
  // the bytes do not fit the flash (nothing is taken then).
  bool Load(std::vector<uint8_t> bytes);

  // False when the run [address, address + count) does not fit the flash
  // (nothing is written then).
  bool Write(uint32_t address, const uint8_t* data, size_t count);

  uint8_t Read(uint32_t address) const { return address < bytes_.size() ? bytes_[address] : 0xFF; }
  bool IsWritten(uint32_t address) const { return address < written_.size() && written_[address]; }

  // Up to the highest byte address ever written: the flash file's contents.
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

  // The range of the flash file that changed since the last call (the
  // bytes written, and the 0xFF bytes of a gap the file grew by): what has
  // to be written to the file after an event. False when nothing changed.
  bool TakeChanged(size_t& begin, size_t& end);

 private:
  std::vector<uint8_t> bytes_;
  std::vector<bool> written_;
  size_t changedBegin_ = 0;
  size_t changedEnd_ = 0;
};

}  // namespace tessaro::sim
