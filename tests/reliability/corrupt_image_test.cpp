// Corrupted images never reach the controller. A valid firmware image and a
// valid configuration file are damaged thousands of ways (bits flipped,
// cut short, extended, and for the image also resealed so that its length
// and checksum fit again and the table checks behind them decide). Each
// variant runs through its update job against a willing controller; the
// file's own rules, recomputed here independently of the loaders, decide
// what must happen:
//   - a variant that breaks them fails to load, and the controller sees
//     nothing but register reads: no 0x10 for firmware, no write at all
//     (0x8040 included) for a configuration;
//   - a variant that keeps them loads and is sent: a configuration byte for
//     byte as the file's tokens say.
// The damage comes from a seeded generator, so every run tries the same
// variants.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "images/cfg_image.h"
#include "images/fw_image.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_hid.h"
#include "tests/support/log_capture.h"
#include "tests/support/memory_files.h"
#include "tools/image_builder.h"
#include "transport/registers.h"
#include "update/jobs.h"

namespace tessaro::testing {
namespace {

constexpr int kVariantsPerKind = 1000;

// splitmix64: the same numbers on every platform and library.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number from 0 to bound - 1.
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }

 private:
  uint64_t state_;
};

// ------------------------------------------------ the files' own rules

uint32_t BigEndian(const std::string& bytes, size_t offset, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = value << 8 | static_cast<uint8_t>(bytes[offset + static_cast<size_t>(i)]);
  return value;
}

// A firmware image: the header and table area (the data begins at offset
// 256), the payload length and the 16-bit sum of the bytes after the
// header's first six, and a table of at most 28 entries whose data lies in
// the file.
bool FirmwareKeepsItsRules(const std::string& file) {
  if (file.size() < 256) return false;
  uint16_t sum = 0;
  for (size_t i = 6; i < file.size(); ++i) sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(file[i]));
  if (sum != BigEndian(file, 4, 2)) return false;
  if (static_cast<uint32_t>(BigEndian(file, 0, 4) + 6u) != file.size()) return false;
  const uint32_t count = static_cast<uint8_t>(file[27]);
  if (count > 28) return false;
  uint64_t end = 256;
  for (uint32_t i = 0; i < count; ++i) {
    end += BigEndian(file, 32 + 8 * i + 1, 4);
    if (end > file.size()) return false;
  }
  return true;
}

// And every sub-firmware fits the 24-bit flash addresses of the load-flash
// command; an image that breaks this loads but is not sent.
// Whether an update with the default mask can succeed, worked out from the
// file alone: every selected entry fits the flash, and KV30, the short test
// code and Q5 (types 2, 6, 11 exactly) are among them.
bool FirmwareCanBeWritten(const std::string& file) {
  const uint32_t count = static_cast<uint8_t>(file[27]);
  bool kinds[3] = {};
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t type = static_cast<uint8_t>(file[32 + 8 * i]);
    if (((0x844u >> (type % 32)) & 1) == 0) continue;
    const uint64_t start = uint64_t{BigEndian(file, 32 + 8 * i + 5, 2)} * 256;
    if (start + BigEndian(file, 32 + 8 * i + 1, 4) > (uint64_t{1} << 24)) return false;
    if (type == 2) kinds[0] = true;
    if (type == 6) kinds[1] = true;
    if (type == 11) kinds[2] = true;
  }
  return kinds[0] && kinds[1] && kinds[2];
}

uint8_t Digit(const std::string& file, size_t at) {
  if (at >= file.size()) return 0;
  const char c = file[at];
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  return 0;
}

// A configuration's bytes: every x or X starts a token of the two digit
// positions after it (anything else, or nothing past the end, counts 0).
std::vector<uint8_t> ConfigTokens(const std::string& file) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < file.size(); ++i) {
    if (file[i] != 'x' && file[i] != 'X') continue;
    bytes.push_back(static_cast<uint8_t>(Digit(file, i + 1) << 4 | Digit(file, i + 2)));
  }
  return bytes;
}

// At least one byte, all of them summing to 0 modulo 256.
bool ConfigKeepsItsRules(const std::string& file) {
  const std::vector<uint8_t> bytes = ConfigTokens(file);
  uint8_t sum = 0;
  for (uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
  return !bytes.empty() && sum == 0;
}

// ------------------------------------------------ the damage

std::string FlipBits(std::string file, Random& random, size_t from, size_t to) {
  const uint32_t flips = 1 + random.Below(4);
  for (uint32_t i = 0; i < flips && to > from; ++i) {
    const size_t at = from + random.Below(static_cast<uint32_t>(to - from));
    file[at] = static_cast<char>(file[at] ^ (1 << random.Below(8)));
  }
  return file;
}

std::string CutShort(const std::string& file, Random& random) {
  return file.substr(0, random.Below(static_cast<uint32_t>(file.size())));
}

std::string Extend(std::string file, Random& random, const std::string& alphabet) {
  const uint32_t extra = 1 + random.Below(64);
  for (uint32_t i = 0; i < extra; ++i) {
    file += alphabet.empty() ? static_cast<char>(random.Below(256))
                             : alphabet[random.Below(static_cast<uint32_t>(alphabet.size()))];
  }
  return file;
}

// ------------------------------------------------ the controller

// Answers as a controller that takes everything: its VERSION block, the head
// of the configuration last written (its own before), and every
// acknowledgement.
class WillingController {
 public:
  WillingController() : hid_({MatchingInterface(L"\\\\?\\hid#willing&col01")}) {
    hid_.AnswerReadsWith([this](uint16_t address, uint16_t lengthBytes) { return Answer(address, lengthBytes); });
  }

  FakeHid& hid() { return hid_; }

 private:
  std::vector<uint8_t> Answer(uint16_t address, uint16_t lengthBytes) {
    std::vector<uint8_t> data(lengthBytes, 0);
    if (address == reg::kVersionAddr) {
      const uint8_t version[12] = {'T', 'S', '0', '1', 0x01, 0x00, 0x00, 0x01, 0, 0, 0x13, 0};
      for (size_t i = 0; i < data.size() && i < sizeof version; ++i) data[i] = version[i];
    } else if (address == reg::kConfigAddr) {
      const std::vector<uint8_t>* written = LastWriteAt(reg::kConfigAddr);
      const uint8_t own[3] = {0x84, 0x00, 0x7C};
      for (size_t i = 0; i < data.size() && i < 3; ++i) {
        data[i] = written != nullptr && 10 + i < 10u + (*written)[9] ? (*written)[10 + i] : own[i];
      }
    } else if (address == reg::kPatchStateAddr) {
      data[0] = reg::kPatchReady;
    } else if (address == reg::kFlashStateAddr) {
      data[0] = reg::kFlashDone;
    } else if (address == reg::kConfigCtrlAddr) {
      const std::vector<uint8_t>* control = LastWriteAt(reg::kConfigCtrlAddr);
      const bool finishing = control != nullptr && (*control)[10] == reg::kConfigFinishCmd;
      data[0] = finishing ? reg::kConfigFinished : reg::kConfigAccepted;
    }
    return data;
  }

  // The last delivered register-write report that starts at `address`.
  const std::vector<uint8_t>* LastWriteAt(uint16_t address) const {
    for (auto event = hid_.events.rbegin(); event != hid_.events.rend(); ++event) {
      if (event->call != HidCall::kSetOutputReport || !event->ok) continue;
      const std::vector<uint8_t>& report = event->bytes;
      if (report[1] == reg::kCmdRegisterAccess && report[5] == reg::kDirWrite &&
          (report[6] << 8 | report[7]) == address) {
        return &report;
      }
    }
    return nullptr;
  }

  FakeHid hid_;
};

struct Traffic {
  bool onlyReads = true;     // every output report was a register read request
  bool switchSent = false;   // command 0x10
  bool controlWritten = false;  // any write at 0x8040
  std::vector<uint8_t> configuration;  // the bytes written from 0x8050 on, first download only
};

Traffic Inspect(const FakeHid& hid) {
  Traffic traffic;
  bool firstDownloadDone = false;
  for (const HidEvent& event : hid.events) {
    if (event.call != HidCall::kSetOutputReport) continue;
    const std::vector<uint8_t>& report = event.bytes;
    const bool read = report[1] == reg::kCmdRegisterAccess && report[5] == reg::kDirRead;
    if (read) continue;
    traffic.onlyReads = false;
    if (report[1] == reg::kCmdSwitchToPatch) traffic.switchSent = true;
    if (report[1] != reg::kCmdRegisterAccess) continue;
    const uint16_t address = static_cast<uint16_t>(report[6] << 8 | report[7]);
    if (address == reg::kConfigCtrlAddr) {
      if (traffic.controlWritten && report[9] == 3) firstDownloadDone = true;
      traffic.controlWritten = true;
    } else if (address >= reg::kConfigAddr && address < reg::kChunkBufferAddr && !firstDownloadDone && event.ok) {
      traffic.configuration.insert(traffic.configuration.end(), report.begin() + 10, report.begin() + 10 + report[9]);
    }
  }
  return traffic;
}

struct Tally {
  int variants = 0;
  int kept = 0;  // variants that keep the file's rules
};

// ------------------------------------------------ firmware

std::string FirmwareBase() {
  FwImageSpec spec;
  spec.pidField = "TS01";
  spec.vid = {0x02, 0x00, 0x00, 0x02};
  spec.subs = {MakeSubFirmware(2, 60, 0x0000, 1), MakeSubFirmware(6, 100, 0x0400, 2),
               MakeSubFirmware(11, 57, 0x0600, 3)};
  return BuildFwImage(spec);
}

void CheckFirmwareVariant(const std::string& variant, Tally& tally) {
  MemoryFileSystem files;
  files.files["fw.bin"] = variant;
  FakeClock clock;
  LogCapture log(3);
  WillingController controller;

  const bool kept = FirmwareKeepsItsRules(variant);
  FwImage image;
  ASSERT_EQ(image.LoadFwFile("fw.bin") == 1, kept);
  image.Release();

  // ignoreVer: a variant with another PID or VID still goes ahead, so only
  // the file's rules stand between it and the controller.
  const int32_t result = UpdateFw("fw.bin", true, 0x844);
  const Traffic traffic = Inspect(controller.hid());
  ++tally.variants;
  if (kept) ++tally.kept;
  EXPECT_EQ(controller.hid().OpenHandleCount(), 0);
  EXPECT_EQ(files.openHandles, 0);
  if (!kept) {
    EXPECT_EQ(result, -2);
    EXPECT_TRUE(traffic.onlyReads);
    EXPECT_FALSE(traffic.switchSent);
  } else {
    EXPECT_EQ(traffic.switchSent, FirmwareCanBeWritten(variant));
  }
}

TEST(CorruptImages, FirmwareThatBreaksItsRulesNeverReachesTheController) {
  const std::string base = FirmwareBase();
  ASSERT_TRUE(FirmwareKeepsItsRules(base));
  Random random(0x7E55A201);
  Tally flipped, headerFlipped, resealed, cut, extended;
  for (int i = 0; i < kVariantsPerKind; ++i) {
    SCOPED_TRACE("variant " + std::to_string(i));
    CheckFirmwareVariant(FlipBits(base, random, 0, base.size()), flipped);
    CheckFirmwareVariant(FlipBits(base, random, 0, 256), headerFlipped);
    std::string sealed = FlipBits(base, random, 6, base.size());
    SealFwImage(sealed);
    CheckFirmwareVariant(sealed, resealed);
    CheckFirmwareVariant(CutShort(base, random), cut);
    CheckFirmwareVariant(Extend(base, random, ""), extended);
    if (HasFailure()) break;
  }
  const Tally all{flipped.variants + headerFlipped.variants + resealed.variants + cut.variants + extended.variants,
                  flipped.kept + headerFlipped.kept + resealed.kept + cut.kept + extended.kept};
  std::printf("firmware variants: %d (%d keep the file's rules): flipped %d/%d, header flipped %d/%d, "
              "resealed %d/%d, cut %d/%d, extended %d/%d\n",
              all.variants, all.kept, flipped.kept, flipped.variants, headerFlipped.kept, headerFlipped.variants,
              resealed.kept, resealed.variants, cut.kept, cut.variants, extended.kept, extended.variants);
  // Both sides of the property are exercised: resealing mostly keeps the
  // rules, cutting never does.
  EXPECT_GT(resealed.kept, 0);
  EXPECT_LT(resealed.kept, resealed.variants);
  EXPECT_EQ(cut.kept, 0);
}

// ------------------------------------------------ configuration

std::string ConfigBase() {
  std::vector<uint8_t> body = {0x00, 0x7B};
  for (uint8_t i = 1; i <= 70; ++i) body.push_back(static_cast<uint8_t>(i * 37));
  return CfgText(BalancedCfgBytes(0x85, body), ", ");
}

void CheckConfigVariant(const std::string& variant, Tally& tally) {
  MemoryFileSystem files;
  files.files["cfg.txt"] = variant;
  FakeClock clock;
  LogCapture log(3);
  WillingController controller;

  const bool kept = ConfigKeepsItsRules(variant);
  CfgImage image;
  ASSERT_EQ(image.LoadCfgFile("cfg.txt") == 1, kept);
  image.Release();

  const int32_t result = UpdateCfg("cfg.txt", true);
  const Traffic traffic = Inspect(controller.hid());
  ++tally.variants;
  if (kept) ++tally.kept;
  EXPECT_EQ(controller.hid().OpenHandleCount(), 0);
  EXPECT_EQ(files.openHandles, 0);
  if (!kept) {
    EXPECT_EQ(result, -2);
    EXPECT_TRUE(traffic.onlyReads);
    EXPECT_FALSE(traffic.controlWritten);
  } else {
    EXPECT_TRUE(traffic.controlWritten);
    EXPECT_EQ(traffic.configuration, ConfigTokens(variant));
  }
}

TEST(CorruptImages, ConfigurationThatBreaksItsRulesNeverReachesTheController) {
  const std::string base = ConfigBase();
  ASSERT_TRUE(ConfigKeepsItsRules(base));
  Random random(0xC0F16A11);
  // Bytes a damaged text is likely to gain: markers, digits and separators.
  const std::string tokenish = "xX0123456789abcdefABCDEF, \n";
  Tally flipped, cut, extended, tokensAdded;
  for (int i = 0; i < kVariantsPerKind; ++i) {
    SCOPED_TRACE("variant " + std::to_string(i));
    CheckConfigVariant(FlipBits(base, random, 0, base.size()), flipped);
    CheckConfigVariant(CutShort(base, random), cut);
    CheckConfigVariant(Extend(base, random, ""), extended);
    CheckConfigVariant(Extend(base, random, tokenish), tokensAdded);
    if (HasFailure()) break;
  }
  std::printf("configuration variants: %d (%d keep the file's rules): flipped %d/%d, cut %d/%d, extended %d/%d, "
              "tokens added %d/%d\n",
              flipped.variants + cut.variants + extended.variants + tokensAdded.variants,
              flipped.kept + cut.kept + extended.kept + tokensAdded.kept, flipped.kept, flipped.variants, cut.kept,
              cut.variants, extended.kept, extended.variants, tokensAdded.kept, tokensAdded.variants);
  EXPECT_GT(flipped.kept + cut.kept + extended.kept + tokensAdded.kept, 0);
  EXPECT_LT(flipped.kept, flipped.variants);
}

}  // namespace
}  // namespace tessaro::testing
