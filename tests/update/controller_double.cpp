#include "tests/update/controller_double.h"

#include <cstdio>

#include "transport/registers.h"

namespace tessaro::testing {
namespace {

std::string Hex16(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
  return text;
}

uint16_t Address(const std::vector<uint8_t>& report) { return static_cast<uint16_t>(report[6] << 8 | report[7]); }

bool IsRead(const std::vector<uint8_t>& report) {
  return report[1] == reg::kCmdRegisterAccess && report[5] == reg::kDirRead;
}
bool IsWrite(const std::vector<uint8_t>& report) {
  return report[1] == reg::kCmdRegisterAccess && report[5] == reg::kDirWrite;
}

std::string Describe(const std::vector<uint8_t>& data) {
  if (data.size() > 8) return "[" + std::to_string(data.size()) + "]";
  return Hex(data);
}

}  // namespace

ReadStep Reply(std::vector<uint8_t> bytes) { return {ReadStep::Kind::kData, std::move(bytes)}; }
ReadStep ReplyFails() { return {ReadStep::Kind::kFail, {}}; }
ReadStep ReplyWrongLength() { return {ReadStep::Kind::kWrongLength, {}}; }
std::vector<ReadStep> Replies(uint8_t value, int n) { return std::vector<ReadStep>(n, Reply({value})); }

ControllerDouble::ControllerDouble() : hid({MatchingInterface(L"ctl")}) {
  hid.responder = [this](const Report* lastOut, Report& reply) { return Answer(lastOut, reply); };
  hid.failIf = [this](HidCall call, const FakeHidInterface*, const uint8_t* report, uint32_t&) {
    sleepsBefore_[hid.events.size()] = clock.sleeps.size();
    if (call == HidCall::kWalk && absentWalks > 0) {
      --absentWalks;
      return true;
    }
    if (call != HidCall::kSetOutputReport || report == nullptr) return false;
    if (FailOutput(report)) return true;
    Deliver(report);
    return false;
  };
  // The acknowledgements a willing controller gives at once.
  registers[reg::kPatchStateAddr] = {reg::kPatchReady};
  registers[reg::kFlashStateAddr] = {reg::kFlashDone};
  registers[reg::kVersionAddr] = VersionBlock("TS01", {1, 0, 0, 1});
  registers[reg::kConfigAddr] = {0x84, 0x00, 0x7C};
}

void ControllerDouble::Script(uint16_t address, const std::vector<ReadStep>& steps) {
  for (const ReadStep& step : steps) scripts[address].push_back(step);
}

bool ControllerDouble::FailOutput(const uint8_t* report) {
  if (report[1] == reg::kCmdRegisterAccess) {
    if (report[5] != reg::kDirWrite) return false;
    const auto found = writeFailures.find(static_cast<uint16_t>(report[6] << 8 | report[7]));
    if (found == writeFailures.end() || found->second == 0) return false;
    --found->second;
    return true;
  }
  const auto found = commandFailures.find(report[1]);
  if (found == commandFailures.end() || found->second == 0) return false;
  --found->second;
  return true;
}

void ControllerDouble::Deliver(const uint8_t* report) {
  if (report[1] != reg::kCmdRegisterAccess || report[5] != reg::kDirWrite) return;
  const uint16_t address = static_cast<uint16_t>(report[6] << 8 | report[7]);
  const std::vector<uint8_t> data(report + 10, report + 10 + (report[4] - 5));
  if (address == reg::kConfigCtrlAddr && data == std::vector<uint8_t>{0x80, 0x00, 0x80}) {
    registers[reg::kConfigCtrlAddr] = {reg::kConfigAccepted};
    pendingConfig_.clear();
  } else if (address == reg::kConfigCtrlAddr && data == std::vector<uint8_t>{reg::kConfigFinishCmd}) {
    registers[reg::kConfigCtrlAddr] = {reg::kConfigFinished};
    if (!keepConfig) registers[reg::kConfigAddr] = pendingConfig_;
  } else if (address >= reg::kConfigAddr && address < reg::kChunkBufferAddr) {
    pendingConfig_.resize(address - reg::kConfigAddr);
    pendingConfig_.insert(pendingConfig_.end(), data.begin(), data.end());
  }
}

bool ControllerDouble::Answer(const Report* lastOut, Report& reply) {
  if (lastOut == nullptr || (*lastOut)[1] != reg::kCmdRegisterAccess || (*lastOut)[5] != reg::kDirRead) return false;
  const uint16_t address = static_cast<uint16_t>((*lastOut)[6] << 8 | (*lastOut)[7]);
  const uint16_t length = static_cast<uint16_t>((*lastOut)[8] << 8 | (*lastOut)[9]);
  std::vector<uint8_t> data;
  uint16_t announced = length;
  auto script = scripts.find(address);
  if (script != scripts.end() && !script->second.empty()) {
    const ReadStep step = script->second.front();
    script->second.pop_front();
    if (step.kind == ReadStep::Kind::kFail) return false;
    if (step.kind == ReadStep::Kind::kWrongLength) announced = static_cast<uint16_t>(length + 1);
    data = step.bytes;
  } else if (registers.count(address) != 0) {
    data = registers[address];
  }
  data.resize(length, 0);
  reply[3] = static_cast<uint8_t>(announced >> 8);
  reply[4] = static_cast<uint8_t>(announced);
  for (uint16_t i = 0; i < length && 5u + i < sizeof(Report); ++i) reply[5 + i] = data[i];
  return true;
}

std::vector<std::string> ControllerDouble::Timeline() const {
  std::vector<std::string> lines;
  size_t sleepsShown = 0;
  auto showSleepsUpTo = [&](size_t count) {
    for (; sleepsShown < count && sleepsShown < clock.sleeps.size(); ++sleepsShown) {
      lines.push_back("sleep " + std::to_string(clock.sleeps[sleepsShown]));
    }
  };
  const std::vector<HidEvent>& events = hid.events;
  for (size_t i = 0; i < events.size(); ++i) {
    const auto known = sleepsBefore_.lower_bound(i);
    showSleepsUpTo(known != sleepsBefore_.end() ? known->second : clock.sleeps.size());
    const HidEvent& event = events[i];
    switch (event.call) {
      case HidCall::kWalk:
        lines.push_back("walk");
        break;
      case HidCall::kOpen:
        if (event.ok) lines.push_back("open");
        break;
      case HidCall::kClose:
        lines.push_back("close");
        break;
      case HidCall::kSetOutputReport: {
        const std::vector<uint8_t>& out = event.bytes;
        const std::string failed = event.ok ? "" : "FAIL ";
        if (IsRead(out)) {
          std::string line = failed + "read " + Hex16(Address(out));
          if (event.ok && i + 1 < events.size() && events[i + 1].call == HidCall::kGetInputReport) {
            const HidEvent& in = events[i + 1];
            const size_t announced = in.ok ? (size_t{in.bytes[3]} << 8 | in.bytes[4]) : 0;
            const size_t asked = size_t{out[8]} << 8 | out[9];
            if (!in.ok) {
              line += " -> fail";
            } else if (announced != asked) {
              line += " -> length " + std::to_string(announced);
            } else {
              line += " -> " + Hex(std::vector<uint8_t>(in.bytes.begin() + 5, in.bytes.begin() + 5 + announced));
            }
            ++i;
          }
          lines.push_back(line);
        } else if (IsWrite(out)) {
          // Join the reports of one transfer: each but the last says more follows.
          const uint16_t address = Address(out);
          std::vector<uint8_t> data;
          bool ok = event.ok;
          size_t j = i;
          for (; j < events.size(); ++j) {
            const std::vector<uint8_t>& part = events[j].bytes;
            data.insert(data.end(), part.begin() + 10, part.begin() + 10 + (part[4] - 5));
            ok = events[j].ok;
            if (!ok || part[2] == 0 || j + 1 >= events.size() || events[j + 1].call != HidCall::kSetOutputReport) break;
          }
          i = j;
          lines.push_back((ok ? "" : "FAIL ") + std::string("write ") + Hex16(address) + " " + Describe(data));
        } else if (out[1] == reg::kCmdLoadFlash) {
          lines.push_back(failed + "load " + Hex(std::vector<uint8_t>(out.begin() + 5, out.begin() + 7)) + " " +
                          Hex(std::vector<uint8_t>(out.begin() + 7, out.begin() + 9)) + " " +
                          Hex(std::vector<uint8_t>(out.begin() + 9, out.begin() + 11)));
        } else {
          lines.push_back(failed + "cmd " + Hex(std::vector<uint8_t>(out.begin() + 1, out.begin() + 2)));
        }
        break;
      }
      default:
        break;
    }
  }
  showSleepsUpTo(clock.sleeps.size());
  return lines;
}

std::vector<Transfer> ControllerDouble::Transfers() const {
  std::vector<Transfer> transfers;
  bool continuing = false;
  for (const HidEvent& event : hid.events) {
    if (event.call != HidCall::kSetOutputReport || !event.ok || !IsWrite(event.bytes)) continue;
    const std::vector<uint8_t>& out = event.bytes;
    if (!continuing) transfers.push_back({Address(out), {}});
    transfers.back().data.insert(transfers.back().data.end(), out.begin() + 10, out.begin() + 10 + (out[4] - 5));
    continuing = out[2] != 0;
  }
  return transfers;
}

std::vector<std::vector<uint8_t>> ControllerDouble::LoadCommands() const {
  std::vector<std::vector<uint8_t>> commands;
  for (const HidEvent& event : hid.events) {
    if (event.call == HidCall::kSetOutputReport && event.bytes[1] == reg::kCmdLoadFlash) {
      commands.emplace_back(event.bytes.begin(), event.bytes.begin() + 11);
    }
  }
  return commands;
}

std::vector<uint8_t> ControllerDouble::VersionBlock(const std::string& pid, std::vector<uint8_t> vid,
                                                     uint8_t sensorByte) {
  std::vector<uint8_t> block(12, 0);
  for (size_t i = 0; i < 4 && i < pid.size(); ++i) block[i] = static_cast<uint8_t>(pid[i]);
  for (size_t i = 0; i < 4 && i < vid.size(); ++i) block[4 + i] = vid[i];
  block[10] = sensorByte;
  return block;
}

std::vector<std::string> Collapse(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < lines.size()) {
    bool collapsed = false;
    for (size_t width = 1; width <= 2 && !collapsed; ++width) {
      size_t repeats = 1;
      while (i + (repeats + 1) * width <= lines.size()) {
        bool same = true;
        for (size_t k = 0; k < width && same; ++k) same = lines[i + repeats * width + k] == lines[i + k];
        if (!same) break;
        ++repeats;
      }
      if (repeats >= 2) {
        std::string line = width == 1 ? lines[i] : "{" + lines[i] + " | " + lines[i + 1] + "}";
        out.push_back(line + " x" + std::to_string(repeats));
        i += repeats * width;
        collapsed = true;
      }
    }
    if (!collapsed) out.push_back(lines[i++]);
  }
  return out;
}

}  // namespace tessaro::testing
