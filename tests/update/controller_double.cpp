#include "tests/update/controller_double.h"

#include "transport/registers.h"

namespace tessaro::testing {

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

std::vector<std::string> ControllerDouble::Trace() const {
  std::vector<std::string> lines;
  size_t sleepsShown = 0;
  auto showSleepsUpTo = [&](size_t count) {
    for (; sleepsShown < count && sleepsShown < clock.sleeps.size(); ++sleepsShown) {
      lines.push_back("sleep " + std::to_string(clock.sleeps[sleepsShown]));
    }
  };
  for (size_t i = 0; i < hid.events.size(); ++i) {
    const auto known = sleepsBefore_.lower_bound(i);
    showSleepsUpTo(known != sleepsBefore_.end() ? known->second : clock.sleeps.size());
    for (std::string& line : TraceLines({hid.events[i]})) lines.push_back(std::move(line));
  }
  showSleepsUpTo(clock.sleeps.size());
  return lines;
}

std::vector<uint8_t> ControllerDouble::VersionBlock(const std::string& pid, std::vector<uint8_t> vid,
                                                     uint8_t sensorByte) {
  std::vector<uint8_t> block(12, 0);
  for (size_t i = 0; i < 4 && i < pid.size(); ++i) block[i] = static_cast<uint8_t>(pid[i]);
  for (size_t i = 0; i < 4 && i < vid.size(); ++i) block[4 + i] = vid[i];
  block[10] = sensorByte;
  return block;
}

}  // namespace tessaro::testing
