#pragma once
// The sub-firmware kinds that have a name: the update job checks what it
// wrote against them, and the --flag option's default and help text are made
// from them, so that the three cannot disagree.
#include <cstdint>

namespace tessaro {

enum SubFwKind { kKv30, kQ5, kShortTest, kSmallSys, kBootCode, kSubFwKindCount };

struct SubFwKindInfo {
  uint8_t type;  // the table entry's type, and the bit of the --flag mask
  // Needed kinds must be written in every attempt, or the controller is left
  // without a working firmware; they make the default mask.
  bool needed;
  const char* flagName;  // as the --flag help text names it
  const char* name;      // as tessaro-info's table listing names it
};

// In the order the help text lists them.
constexpr SubFwKindInfo kSubFwKinds[kSubFwKindCount] = {
    {2, true, "KV30", "KV30"},
    {11, true, "Q5", "Q5"},
    {6, true, "short", "short test code"},
    {5, false, "smallsys", "small sys"},
    {14, false, "bootcode", "boot code"}};

constexpr uint32_t DefaultSubFwMask() {
  uint32_t mask = 0;
  for (const SubFwKindInfo& kind : kSubFwKinds) {
    if (kind.needed) mask |= uint32_t{1} << kind.type;
  }
  return mask;
}

// 0x844: KV30, Q5 and the short test code.
constexpr uint32_t kDefaultSubFwMask = DefaultSubFwMask();

// Whether a table entry of this type is written under the --flag mask:
// bit (type modulo 32).
constexpr bool SubTypeSelected(uint32_t subTypeFlag, uint8_t type) { return ((subTypeFlag >> (type % 32)) & 1) != 0; }

// The kind of a table entry's type; -1 for a type without a name.
constexpr int SubFwKindOfType(uint8_t type) {
  for (int kind = 0; kind < kSubFwKindCount; ++kind) {
    if (kSubFwKinds[kind].type == type) return kind;
  }
  return -1;
}

}  // namespace tessaro
