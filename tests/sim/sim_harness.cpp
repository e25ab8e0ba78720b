#include "tests/sim/sim_harness.h"

#include <gtest/gtest.h>

#include <sstream>

#include "sim/state_files.h"
#include "transport/registers.h"
#include "transport/report.h"

namespace tessaro::testing {

void SimFolder::WriteState(const std::string& json) const { WriteFileBytes(sim::kStateFileName, json); }

std::string SimFolder::StateText() const { return ReadFileBytes(sim::kStateFileName); }

sim::State SimFolder::State() const {
  sim::State state = sim::FactoryState(kVendorId);
  std::string error;
  EXPECT_TRUE(sim::ParseState(StateText(), state, error)) << error;
  return state;
}

std::vector<std::string> SimFolder::Trace() const { return Trace(""); }

std::vector<std::string> SimFolder::Trace(const std::string& prefix) const {
  std::istringstream text(ReadFileBytes(sim::kTraceFileName));
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}

std::string SimFolder::Flash() const { return ReadFileBytes(sim::kFlashFileName); }

bool SimFolder::Has(const char* name) const { return FileExists(name); }

SimRun::SimRun(bool open) {
  if (open) {
    EXPECT_TRUE(connection.Open());
  }
}

bool SimRun::Send(std::initializer_list<uint8_t> bytes) { return Send(std::vector<uint8_t>(bytes)); }

bool SimRun::Send(const std::vector<uint8_t>& bytes) {
  Report report = {};
  for (size_t i = 0; i < bytes.size() && i < sizeof report; ++i) report[i] = bytes[i];
  return TheHid().SetOutputReport(connection.deviceHandle, report);
}

int SimRun::ReadByte(uint16_t address) {
  uint8_t value = 0;
  return connection.ReadRegister(address, &value, 1) == 1 ? value : -1;
}

std::vector<uint8_t> SimRun::Read(uint16_t address, int32_t lengthBytes) {
  std::vector<uint8_t> bytes(static_cast<size_t>(lengthBytes));
  EXPECT_EQ(connection.ReadRegister(address, bytes.data(), lengthBytes), lengthBytes);
  return bytes;
}

int32_t SimRun::Write(uint16_t address, const std::vector<uint8_t>& data) {
  return connection.WriteRegister(address, data.data(), static_cast<uint32_t>(data.size()));
}

void SimRun::EnterUpdateProgram() {
  const auto patch = MakeModeCommand(reg::kCmdSwitchToPatch);
  const auto start = MakeModeCommand(reg::kCmdStartUpdate);
  EXPECT_EQ(connection.WriteReport(patch.data(), kModeCommandBytes), kModeCommandBytes);
  EXPECT_EQ(connection.WriteReport(start.data(), kModeCommandBytes), kModeCommandBytes);
}

void SimRun::LoadChunk(uint32_t flashAddress, const std::vector<uint8_t>& chunk) {
  EXPECT_EQ(Write(reg::kChunkBufferAddr, chunk), static_cast<int32_t>(chunk.size()));
  const auto command = MakeLoadFlashCommand(static_cast<uint16_t>(chunk.size()),
                                            static_cast<uint16_t>(flashAddress >> 8), Checksum(chunk));
  EXPECT_EQ(connection.WriteReport(command.data(), kLoadFlashCommandBytes), kLoadFlashCommandBytes);
}

std::pair<int, int> SimRun::DownloadConfig(const std::vector<uint8_t>& config) {
  const std::vector<uint8_t> send(std::begin(reg::kConfigSendCmd), std::end(reg::kConfigSendCmd));
  EXPECT_EQ(Write(reg::kConfigCtrlAddr, send), 3);
  const int accepted = ReadByte(reg::kConfigCtrlAddr);
  EXPECT_EQ(Write(reg::kConfigAddr, config), static_cast<int32_t>(config.size()));
  EXPECT_EQ(Write(reg::kConfigCtrlAddr, {reg::kConfigFinishCmd}), 1);
  return {accepted, ReadByte(reg::kConfigCtrlAddr)};
}

uint16_t Checksum(const std::vector<uint8_t>& chunk) {
  uint16_t sum = 0;
  for (size_t i = 0; i < chunk.size(); i += 2) {
    sum = static_cast<uint16_t>(sum + (chunk[i] << 8 | (i + 1 < chunk.size() ? chunk[i + 1] : 0)));
  }
  return sum;
}

}  // namespace tessaro::testing
