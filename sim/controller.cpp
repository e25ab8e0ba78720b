#include "sim/controller.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "base/trace.h"
#include "sim/hex.h"
#include "transport/registers.h"

namespace tessaro::sim {
namespace {

constexpr uint16_t kChunkBufferEnd = reg::kChunkBufferAddr + reg::kFlashChunkBytes;
// Bytes 2 to 5 of every one-byte command: no flag, chunk 0, count 1, 0x01.
constexpr uint8_t kModeCommandFrame[4] = {0x00, 0x00, 0x01, 0x01};
constexpr uint8_t kLoadFlashFrame[3] = {0x00, 0x00, 0x06};
constexpr uint8_t kReadRequestFrame[3] = {0x00, 0x00, 0x05};
constexpr size_t kWriteDataOffset = 10;
constexpr size_t kReplyDataOffset = 5;

std::string Hex2(uint32_t value) { return "0x" + ToHexNumber(value, 2); }
std::string Hex4(uint32_t value) { return "0x" + ToHexNumber(value, 4); }
std::string Dec(uint32_t value) { return std::to_string(value); }

uint16_t Word(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }

// True when `address` lies in the run of `length` bytes from `start`,
// addresses wrapping at 16 bits as in a report.
bool Covers(uint16_t start, uint16_t length, uint16_t address) {
  return static_cast<uint16_t>(address - start) < length;
}

}  // namespace

uint16_t ChunkChecksum(const std::vector<uint8_t>& chunk) {
  uint16_t sum = 0;
  for (size_t i = 0; i < chunk.size(); i += 2) {
    const uint8_t low = i + 1 < chunk.size() ? chunk[i + 1] : 0;
    sum = static_cast<uint16_t>(sum + (chunk[i] << 8 | low));
  }
  return sum;
}

Controller::Controller(State& state, Flash& flash, TraceSink trace)
    : state_(state), flash_(flash), trace_(std::move(trace)) {
  lastReply_[0] = reg::kReportId;
}

bool Controller::SendOutput(const ReportBytes& report) {
  const uint8_t command = report[1];
  const bool isWrite = command == reg::kCmdRegisterAccess && report[5] == reg::kDirWrite;
  // One fault per report: a command failure spares the write counters.
  const bool fails = UseUp(state_.faults.commandFailures, command) ||
                     (isWrite && UseUp(state_.faults.writeFailures, Word(report + 6)));
  Trace(trace::Out(report, kReportBytes, !fails));
  if (!fails) Deliver(report);
  return !fails;
}

bool Controller::FetchInput(ReportBytes& report) {
  if (report[0] != reg::kReportId) {
    Violation("input report asked for with report ID " + Hex2(report[0]) + ", expected 0x0E");
    Trace(trace::InFailed());
    return false;
  }
  if (!replyPending_) {
    Violation("input report fetched without a read request");
  } else {
    replyPending_ = false;
    if (UseUp(state_.faults.readFailures, replyAddress_)) {
      Trace(trace::InFailed());
      return false;
    }
    uint32_t announced = replyLength_;
    if (UseUp(state_.faults.lengthMismatch, replyAddress_)) ++announced;
    std::memset(lastReply_, 0, kReportBytes);
    lastReply_[0] = reg::kReportId;
    lastReply_[3] = static_cast<uint8_t>(announced >> 8);
    lastReply_[4] = static_cast<uint8_t>(announced);
    const size_t dataBytes = std::min<size_t>(announced, kReportBytes - kReplyDataOffset);
    std::copy(replyData_.begin(), replyData_.begin() + static_cast<std::ptrdiff_t>(dataBytes),
              lastReply_ + kReplyDataOffset);
  }
  std::memcpy(report, lastReply_, kReportBytes);
  Trace(trace::In(report, kReportBytes));
  return true;
}

void Controller::Deliver(const ReportBytes& report) {
  // A report of another ID is not the register interface's: it leaves a
  // write in progress as it is.
  if (report[0] != reg::kReportId) {
    Violation("report ID " + Hex2(report[0]) + ", expected 0x0E");
    return;
  }
  const uint8_t command = report[1];
  if (!(command == reg::kCmdRegisterAccess && report[5] == reg::kDirWrite)) EndTransfer();
  switch (command) {
    case reg::kCmdRegisterAccess:
      OnRegisterAccess(report);
      break;
    case reg::kCmdSwitchToPatch:
    case reg::kCmdStartUpdate:
    case reg::kCmdRestart:
      OnModeCommand(report);
      break;
    case reg::kCmdLoadFlash:
      OnLoadFlash(report);
      break;
    default:
      Violation("unknown command " + Hex2(command));
      break;
  }
}

void Controller::OnRegisterAccess(const ReportBytes& report) {
  if (report[5] == reg::kDirRead) {
    OnReadRequest(report);
  } else if (report[5] == reg::kDirWrite) {
    OnWriteChunk(report);
  } else {
    Violation("register access with direction " + Hex2(report[5]));
  }
}

void Controller::OnReadRequest(const ReportBytes& report) {
  const uint16_t address = Word(report + 6);
  const uint16_t length = Word(report + 8);
  // A request that cannot be answered leaves no earlier reply to be fetched.
  replyPending_ = false;
  if (!std::equal(std::begin(kReadRequestFrame), std::end(kReadRequestFrame), report + 2)) {
    Violation("read request at " + Hex4(address) + " malformed: bytes 2 to 4 are " + ToHex(report + 2, 3) +
              ", expected 000005");
    return;
  }
  if (length < 1 || length > reg::kMaxReadBytes) {
    Violation("read of " + Dec(length) + " bytes at " + Hex4(address) + ", expected 1 to 60");
    return;
  }
  // The request is the read: it counts towards every acknowledgement it covers.
  for (auto [ackRegister, at] : {std::pair{&patchState_, reg::kPatchStateAddr},
                                 std::pair{&flashState_, reg::kFlashStateAddr},
                                 std::pair{&configCtrl_, reg::kConfigCtrlAddr}}) {
    if (Covers(address, length, at) && ackRegister->readsSeen < std::numeric_limits<uint32_t>::max()) {
      ++ackRegister->readsSeen;
    }
  }
  // One byte more than asked for, for a reply that announces one more.
  replyData_.resize(length + 1u);
  for (uint16_t i = 0; i < replyData_.size(); ++i) replyData_[i] = ByteAt(static_cast<uint16_t>(address + i));
  replyPending_ = true;
  replyAddress_ = address;
  replyLength_ = length;
}

uint8_t Controller::ByteAt(uint16_t address) const {
  const auto ackValue = [](const AckRegister& ack) -> uint8_t {
    return ack.armed && ack.readsNeeded != 0 && ack.readsSeen >= ack.readsNeeded ? ack.value : 0;
  };
  if (Covers(reg::kVersionAddr, reg::kVersionBytes, address)) {
    const uint16_t offset = static_cast<uint16_t>(address - reg::kVersionAddr);
    if (offset < 4) return state_.pid[offset];
    if (offset < 8) return state_.vid[offset - 4u];
    return offset == 10 ? state_.sensorByte : 0;
  }
  // A controller found outside normal operation, where an earlier run left
  // it, reports its patch mode until it is switched again.
  if (address == reg::kPatchStateAddr && !switchSent_ && state_.mode != Mode::kNormal) return reg::kPatchReady;
  if (address == reg::kPatchStateAddr) return ackValue(patchState_);
  if (address == reg::kFlashStateAddr) return ackValue(flashState_);
  if (address == reg::kConfigCtrlAddr) return ackValue(configCtrl_);
  if (address >= reg::kConfigAddr) {
    const size_t offset = address - reg::kConfigAddr;
    if (offset < state_.config.size()) return state_.config[offset];
  }
  return 0;
}

void Controller::OnWriteChunk(const ReportBytes& report) {
  const uint8_t flag = report[2];
  const uint8_t chunk = report[3];
  const uint8_t count = report[4];
  const uint16_t address = Word(report + 6);
  const uint16_t length = Word(report + 8);
  const bool moreFollows = flag == 1;
  const std::string at = "write at " + Hex4(address) + ": ";

  // A broken framing also breaks the write it belongs to.
  const auto reject = [&](const std::string& text) {
    Violation(text);
    transfer_.open = false;
    transfer_.skipping = flag != 0;
  };
  if (length > kReportBytes - kWriteDataOffset) {
    return reject(at + "data length " + Dec(length) + ", at most 55 fit a report");
  }
  if (count != length + 5u) {
    return reject(at + "count byte " + Dec(count) + ", expected " + Dec(length + 5u) + " (data length + 5)");
  }
  if (flag > 1) return reject(at + "more-follows flag " + Hex2(flag));

  if (transfer_.skipping && chunk != 0) {
    if (!moreFollows) transfer_.skipping = false;
    return;
  }
  // Chunk 0 begins a new write, unless it is the 257th chunk of this one.
  const bool continues = transfer_.nextChunk == 0 && address == transfer_.nextAddress;
  if (transfer_.open && chunk == 0 && !continues) EndTransfer();
  const uint8_t expectedChunk = transfer_.open ? transfer_.nextChunk : 0;
  if (chunk != expectedChunk) {
    return reject(at + "chunk number " + Dec(chunk) + ", expected " + Dec(expectedChunk));
  }
  if (transfer_.open && address != transfer_.nextAddress) {
    return reject("write chunk " + Dec(chunk) + " at " + Hex4(address) + ", expected " + Hex4(transfer_.nextAddress));
  }
  if (!transfer_.open) transfer_ = Transfer{false, false, false, 0, 0, address};

  ApplyWrite(address, report + kWriteDataOffset, length);
  transfer_.open = moreFollows;
  transfer_.nextChunk = static_cast<uint8_t>(chunk + 1);
  transfer_.nextAddress = static_cast<uint16_t>(address + length);
}

// A write whose last chunk never came is broken off by any other report.
void Controller::EndTransfer() {
  if (transfer_.open) {
    Violation("write transfer at " + Hex4(transfer_.startAddress) + " broken off after chunk " +
              Dec(static_cast<uint8_t>(transfer_.nextChunk - 1)));
  }
  transfer_.open = false;
  transfer_.skipping = false;
}

void Controller::ApplyWrite(uint16_t address, const uint8_t* data, size_t count) {
  if (address == reg::kConfigCtrlAddr) {
    WriteHandshake(data, count);
  } else if (address >= reg::kChunkBufferAddr && address < kChunkBufferEnd) {
    WriteChunkBuffer(address, data, count);
  } else if (address >= reg::kConfigAddr && address < reg::kChunkBufferAddr) {
    WriteConfiguration(address, data, count);
  }
  // Anywhere else: registers the tool never uses, taken without effect.
}

void Controller::WriteHandshake(const uint8_t* data, size_t count) {
  if (count == sizeof reg::kConfigSendCmd && std::equal(data, data + count, reg::kConfigSendCmd)) {
    // A new download starts afresh, whatever an earlier one collected.
    download_.clear();
    downloadOpen_ = Arm(configCtrl_, Ack::kCfgAccept, reg::kConfigAccepted);
    return;
  }
  if (count == 1 && data[0] == reg::kConfigFinishCmd) {
    if (!downloadOpen_) return Offence("finish command 0x83 without an open download");
    downloadOpen_ = false;
    if (!Arm(configCtrl_, Ack::kCfgFinish, reg::kConfigFinished)) return download_.clear();
    if (!UseUp(state_.faults.keepConfig)) {
      state_.config = std::move(download_);
      stateChanged_ = true;
    }
    download_.clear();
    if (UseUp(state_.faults.corruptHead)) {
      // The head then sums to 1, never to 0.
      if (state_.config.size() < reg::kConfigHeadBytes) state_.config.resize(reg::kConfigHeadBytes, 0);
      state_.config[2] = static_cast<uint8_t>(1 - state_.config[0] - state_.config[1]);
      stateChanged_ = true;
    }
    return;
  }
  Offence("unknown handshake at 0x8040: " + ToHex(data, count));
}

void Controller::WriteConfiguration(uint16_t address, const uint8_t* data, size_t count) {
  // Outside a download the configuration area is plain memory to the host:
  // bytes written there are taken and dropped.
  if (!downloadOpen_) return;
  const size_t offset = address - reg::kConfigAddr;
  if (offset + count > kMaxConfigBytes) return Offence("write at " + Hex4(address) + " runs past the configuration");
  if (download_.size() < offset + count) download_.resize(offset + count, 0);
  std::copy(data, data + count, download_.begin() + static_cast<std::ptrdiff_t>(offset));
}

void Controller::WriteChunkBuffer(uint16_t address, const uint8_t* data, size_t count) {
  if (state_.mode != Mode::kUpdateProgram) return Offence("write to " + Hex4(address) + " outside the update program");
  const size_t offset = address - reg::kChunkBufferAddr;
  if (offset + count > reg::kFlashChunkBytes) {
    return Offence("write at " + Hex4(address) + " runs past the chunk buffer");
  }
  if (chunkBuffer_.size() < offset + count) chunkBuffer_.resize(offset + count, 0);
  std::copy(data, data + count, chunkBuffer_.begin() + static_cast<std::ptrdiff_t>(offset));
}

void Controller::OnModeCommand(const ReportBytes& report) {
  const uint8_t command = report[1];
  if (!std::equal(std::begin(kModeCommandFrame), std::end(kModeCommandFrame), report + 2)) {
    return Violation("command " + Hex2(command) + " malformed: bytes 2 to 5 are " + ToHex(report + 2, 4) +
                     ", expected 00000101");
  }
  switch (command) {
    case reg::kCmdSwitchToPatch:
      switchSent_ = true;
      if (Arm(patchState_, Ack::kPatch, reg::kPatchReady)) SetMode(Mode::kPatch);
      break;
    case reg::kCmdStartUpdate:
      if (state_.mode != Mode::kPatch) return Violation("start update (0x11) outside patch mode");
      SetMode(Mode::kUpdateProgram);
      break;
    default:
      if (state_.mode != Mode::kUpdateProgram) return Violation("restart (0x13) outside the update program");
      Restart();
      break;
  }
}

void Controller::OnLoadFlash(const ReportBytes& report) {
  if (!std::equal(std::begin(kLoadFlashFrame), std::end(kLoadFlashFrame), report + 2)) {
    return Violation("command 0x12 malformed: bytes 2 to 4 are " + ToHex(report + 2, 3) + ", expected 000006");
  }
  if (state_.mode != Mode::kUpdateProgram) return Violation("load flash (0x12) outside the update program");
  const uint16_t length = Word(report + 5);
  const uint32_t flashAddress = static_cast<uint32_t>(Word(report + 7)) << 8;
  const uint16_t checksum = Word(report + 9);

  // Every load-flash command empties the buffer, taken or not.
  std::vector<uint8_t> chunk;
  chunk.swap(chunkBuffer_);
  flashState_ = AckRegister{};
  if (length != chunk.size()) {
    return Violation("load flash of " + Dec(length) + " bytes, the chunk buffer holds " + Dec(uint32_t(chunk.size())));
  }
  const uint16_t sum = ChunkChecksum(chunk);
  // For an odd length the last word's low byte is not the controller's to
  // know: any value of it is accepted.
  const bool odd = chunk.size() % 2 != 0;
  const uint16_t difference = static_cast<uint16_t>(checksum - sum);
  if (odd ? difference > 0xFF : difference != 0) {
    return Violation("load flash checksum " + Hex4(checksum) + ", the chunk sums to " + Hex4(sum) +
                     (odd ? " plus its last low byte" : ""));
  }
  if (flashAddress + chunk.size() > kFlashBytes) {
    return Violation("load flash at 0x" + ToHexNumber(flashAddress, 6) + " runs past the end of flash");
  }
  if (Arm(flashState_, Ack::kFlash, reg::kFlashDone)) flash_.Write(flashAddress, chunk.data(), chunk.size());
}

void Controller::Restart() {
  bool whole = true;
  for (uint32_t i = 0; i < 8; ++i) whole = whole && flash_.IsWritten(state_.identityAddress + i);
  if (whole) {
    for (uint32_t i = 0; i < 4; ++i) {
      state_.pid[i] = flash_.Read(state_.identityAddress + i);
      state_.vid[i] = flash_.Read(state_.identityAddress + 4 + i);
    }
    stateChanged_ = true;
  }
  SetMode(Mode::kNormal);
  patchState_ = AckRegister{};
  flashState_ = AckRegister{};
  configCtrl_ = AckRegister{};
  downloadOpen_ = false;
  download_.clear();
}

void Controller::SetMode(Mode mode) {
  if (state_.mode != mode) stateChanged_ = true;
  state_.mode = mode;
  chunkBuffer_.clear();
}

bool Controller::Arm(AckRegister& target, Ack ack, uint8_t value) {
  const auto index = static_cast<size_t>(ack);
  if (UseUp(state_.faults.refuse[index])) {
    target = AckRegister{};
    return false;
  }
  target = AckRegister{value, true, state_.faults.ackAfter[index], 0};
  return true;
}

void Controller::Trace(const std::string& line) const {
  if (trace_) trace_(line);
}

void Controller::Offence(const std::string& text) {
  if (transfer_.quiet) return;
  transfer_.quiet = true;
  Violation(text);
}

void Controller::Violation(const std::string& text) const { Trace("violation " + text); }

}  // namespace tessaro::sim
