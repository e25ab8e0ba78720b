#include "sim/flash.h"

#include <algorithm>

namespace tessaro::sim {

bool Flash::TakeChanged(size_t& begin, size_t& end) {
  begin = changedBegin_;
  end = changedEnd_;
  changedBegin_ = changedEnd_ = 0;
  return begin != end;
}

bool Flash::Load(std::vector<uint8_t> bytes) {
  if (bytes.size() > kFlashBytes) return false;
  changedBegin_ = changedEnd_ = 0;
  written_.assign(bytes.size(), false);
  for (size_t i = 0; i < bytes.size(); ++i) written_[i] = bytes[i] != 0xFF;
  bytes_ = std::move(bytes);
  return true;
}

bool Flash::Write(uint32_t address, const uint8_t* data, size_t count) {
  if (address > kFlashBytes || count > kFlashBytes - address) return false;
  const size_t end = static_cast<size_t>(address) + count;
  const size_t changedFrom = std::min<size_t>(address, bytes_.size());
  if (changedBegin_ == changedEnd_) {
    changedBegin_ = changedFrom;
    changedEnd_ = end;
  } else {
    changedBegin_ = std::min(changedBegin_, changedFrom);
    changedEnd_ = std::max(changedEnd_, end);
  }
  if (end > bytes_.size()) {
    // Room for the whole flash at the first growth: growing by doubling
    // would hold the old and the new copy at once and touch twice the flash.
    // Pages never written stay unmapped.
    if (end > bytes_.capacity()) {
      bytes_.reserve(kFlashBytes);
      written_.reserve(kFlashBytes);
    }
    bytes_.resize(end, 0xFF);
    written_.resize(end, false);
  }
  std::copy(data, data + count, bytes_.begin() + address);
  std::fill(written_.begin() + address, written_.begin() + static_cast<std::ptrdiff_t>(end), true);
  return true;
}

}  // namespace tessaro::sim
