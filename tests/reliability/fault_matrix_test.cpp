// The fault matrix: every job against tessaro-sim with every simulator fault
// that can touch it, at the counts around each of the job's loop limits.
// Each case is a real run of the built program in a fresh folder; its exit
// code and trace are held to what the model of the jobs predicts, and every
// run must close the controller, stay within the protocol, and leave no
// sanitizer report.
//
// TESSARO_FAULT_MATRIX_SUBSET=limits runs only the cases at a limit (where
// the result changes), for Wine without a persistent wineserver, where each
// run takes a second or two.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_harness.h"
#include "tests/reliability/fault_model.h"
#include "tools/image_builder.h"
#include "transport/connection.h"

namespace tessaro::reliability {
namespace {

using e2e::ExitCode;
using e2e::InputFile;

struct MatrixCase {
  Case run;
  // The count is one of the job's loop limits: the result changes here.
  bool atLimit = false;
};

// ------------------------------------------------------------ the files

// Firmware: the three kinds an update needs, in the order the job writes
// them; the Q5 chunk is odd and sums the byte after it; KV30 spans two
// chunks and begins with the identity the controller takes at its restart.
const uint8_t kImageVid[4] = {0x02, 0x00, 0x00, 0x02};

std::string FirmwareImage() {
  testing::FwImageSpec spec;
  spec.pidField = "TS01";
  spec.vid = {kImageVid[0], kImageVid[1], kImageVid[2], kImageVid[3]};
  testing::SubFirmware kv30 = testing::MakeSubFirmware(2, 4100, 0x0000, 7);
  kv30.data.replace(0, 8, std::string("TS01") + std::string(reinterpret_cast<const char*>(kImageVid), 4));
  spec.subs = {testing::MakeSubFirmware(6, 100, 0x0400, 5), testing::MakeSubFirmware(11, 57, 0x0600, 6), kv30};
  return testing::BuildFwImage(spec);
}

// A configuration above the simulator's (0x84) whose head sums to 0.
std::vector<uint8_t> ConfigBytes() {
  std::vector<uint8_t> body = {0x00, 0x7B};
  for (uint8_t i = 1; i <= 58; ++i) body.push_back(i);
  return testing::BalancedCfgBytes(0x85, body);
}

Files ModelFiles() {
  Files files;
  files.chunkBytes = {100, 57, 4096, 4};
  files.configBytes = static_cast<uint32_t>(ConfigBytes().size());
  files.configVersion = 0x85;
  return files;
}

// ------------------------------------------------------------ the cases

// Counts around a loop of `limit` tries: once, one short, all, one more.
std::vector<uint32_t> Around(std::initializer_list<uint32_t> limits) {
  std::set<uint32_t> counts;
  for (uint32_t limit : limits) {
    for (uint32_t count : {1u, limit - 1, limit, limit + 1}) {
      if (count != 0) counts.insert(count);
    }
  }
  return {counts.begin(), counts.end()};
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

const char* const kAckKeys[4] = {"patch", "flash", "cfgAccept", "cfgFinish"};

class Builder {
 public:
  // One case per count; `set` applies the count to the faults.
  void Counts(Job job, const std::string& fault, std::initializer_list<uint32_t> limits,
              const std::function<void(Faults&, uint32_t)>& set) {
    for (uint32_t count : Around(limits)) {
      MatrixCase matrixCase;
      matrixCase.run.job = job;
      matrixCase.run.name = std::string(JobName(job)) + "_" + fault + "_" + std::to_string(count);
      set(matrixCase.run.faults, count);
      matrixCase.atLimit = std::find(limits.begin(), limits.end(), count) != limits.end();
      cases.push_back(matrixCase);
    }
  }

  void Settings(Job job, const std::string& fault, std::initializer_list<uint32_t> values, uint32_t limit,
                const std::function<void(Faults&, uint32_t)>& set) {
    for (uint32_t value : values) {
      MatrixCase matrixCase;
      matrixCase.run.job = job;
      matrixCase.run.name = std::string(JobName(job)) + "_" + fault + "_" + std::to_string(value);
      set(matrixCase.run.faults, value);
      matrixCase.atLimit = value == limit;
      cases.push_back(matrixCase);
    }
  }

  void Devices(Job job) {
    const std::pair<const char*, Device> devices[] = {
        {"absent", Device{false, false, 0, 1}},
        {"foreignVendor", Device{true, true, 0, 1}},
        {"otherCollections_2", Device{true, false, 2, 1}},
        {"matchingCollections_2", Device{true, false, 0, 2}},
    };
    for (const auto& [name, device] : devices) {
      MatrixCase matrixCase;
      matrixCase.run.job = job;
      matrixCase.run.name = std::string(JobName(job)) + "_" + name;
      matrixCase.run.device = device;
      matrixCase.atLimit = true;
      cases.push_back(matrixCase);
    }
  }

  // A read fault at `address`, either kind.
  void Reads(Job job, uint16_t address, std::initializer_list<uint32_t> limits) {
    Counts(job, "readFailures_" + Hex(address, 4), limits,
           [address](Faults& f, uint32_t n) { f.readFailures[address] = n; });
    Counts(job, "lengthMismatch_" + Hex(address, 4), limits,
           [address](Faults& f, uint32_t n) { f.lengthMismatch[address] = n; });
  }

  std::vector<MatrixCase> cases;
};

std::vector<MatrixCase> BuildMatrix() {
  Builder b;
  const Job all[] = {Job::kPid, Job::kVid, Job::kSensorId, Job::kCfgVersion, Job::kFirmware, Job::kConfiguration};
  for (Job job : all) {
    b.Counts(job, "openFailures", {4}, [](Faults& f, uint32_t n) { f.openFailures = n; });
    b.Devices(job);
  }
  for (Job job : {Job::kPid, Job::kVid, Job::kSensorId}) b.Reads(job, 0x8240, {5});
  b.Reads(Job::kCfgVersion, 0x8050, {1});

  // Firmware: 5 VERSION reads; 5 polls of 0x5095 in each of 3 attempts; 100
  // polls of 0x5096 for each of 12 sends of a chunk in each of 3 attempts;
  // 3 restart sends in each of 3 attempts.
  const Job fw = Job::kFirmware;
  b.Reads(fw, 0x8240, {5});
  b.Reads(fw, 0x5095, {5, 15});
  b.Reads(fw, 0x5096, {100, 1200, 3600});
  // A chunk's first report, and its second (the write is then cut short).
  for (uint16_t address : {0x9000, 0x9037}) {
    b.Counts(fw, "writeFailures_" + Hex(address, 4), {3},
             [address](Faults& f, uint32_t n) { f.writeFailures[address] = n; });
  }
  for (uint8_t command : {0x10, 0x11, 0x12}) {
    b.Counts(fw, "commandFailures_" + Hex(command, 2), {3},
             [command](Faults& f, uint32_t n) { f.commandFailures[command] = n; });
  }
  b.Counts(fw, "commandFailures_13", {3, 9}, [](Faults& f, uint32_t n) { f.commandFailures[0x13] = n; });
  b.Counts(fw, "refuse_patch", {3}, [](Faults& f, uint32_t n) { f.refuse[kPatchAck] = n; });
  b.Counts(fw, "refuse_flash", {12, 36}, [](Faults& f, uint32_t n) { f.refuse[kFlashAck] = n; });
  b.Settings(fw, "ackAfter_patch", {0, 1, 4, 5, 6}, 5, [](Faults& f, uint32_t n) { f.ackAfter[kPatchAck] = n; });
  b.Settings(fw, "ackAfter_flash", {0, 1, 99, 100, 101}, 100,
             [](Faults& f, uint32_t n) { f.ackAfter[kFlashAck] = n; });
  // 0xF300 is read only after a chunk went unconfirmed: with a first chunk
  // refused all 12 times, its 12 reads fail too.
  for (bool length : {false, true}) {
    b.Counts(fw, std::string(length ? "lengthMismatch" : "readFailures") + "_F300_refuse_flash_12", {12},
             [length](Faults& f, uint32_t n) {
               f.refuse[kFlashAck] = 12;
               (length ? f.lengthMismatch : f.readFailures)[0xF300] = n;
             });
  }

  // Configuration: the head read, then a read-back after each of 5
  // attempts; 5 polls of 0x8040 twice in each attempt; one write of each
  // kind per attempt.
  const Job cfg = Job::kConfiguration;
  b.Reads(cfg, 0x8050, {1, 6});
  b.Reads(cfg, 0x8040, {5, 25});
  // The handshake's commands; the configuration's first and second report.
  for (uint16_t address : {0x8040, 0x8050, 0x8087}) {
    b.Counts(cfg, "writeFailures_" + Hex(address, 4), {5},
             [address](Faults& f, uint32_t n) { f.writeFailures[address] = n; });
  }
  for (Ack ack : {kCfgAcceptAck, kCfgFinishAck}) {
    b.Counts(cfg, std::string("refuse_") + kAckKeys[ack], {5}, [ack](Faults& f, uint32_t n) { f.refuse[ack] = n; });
    b.Settings(cfg, std::string("ackAfter_") + kAckKeys[ack], {0, 1, 4, 5, 6}, 5,
               [ack](Faults& f, uint32_t n) { f.ackAfter[ack] = n; });
  }
  b.Counts(cfg, "keepConfig", {5}, [](Faults& f, uint32_t n) { f.keepConfig = n; });
  b.Counts(cfg, "corruptHead", {5}, [](Faults& f, uint32_t n) { f.corruptHead = n; });
  return b.cases;
}

const std::vector<MatrixCase>& Matrix() {
  static const std::vector<MatrixCase> matrix = BuildMatrix();
  return matrix;
}

// ------------------------------------------------------------ a run

std::string StateJson(const Case& run) {
  std::ostringstream json;
  json << "{\"virtualTime\": true";
  if (!run.device.present) json << ", \"present\": false";
  if (run.device.foreignVendor) json << ", \"vendorId\": " << (kVendorId ^ 0x5A5A);
  json << ", \"otherCollections\": " << run.device.otherCollections;
  json << ", \"matchingCollections\": " << run.device.matchingCollections;
  const Faults& f = run.faults;
  json << ", \"faults\": {\"openFailures\": " << f.openFailures;
  auto counters = [&json](const char* key, const auto& map, int digits) {
    json << ", \"" << key << "\": {";
    const char* separator = "";
    for (const auto& [address, count] : map) {
      json << separator << "\"" << Hex(address, digits) << "\": " << count;
      separator = ", ";
    }
    json << "}";
  };
  counters("readFailures", f.readFailures, 4);
  counters("lengthMismatch", f.lengthMismatch, 4);
  counters("writeFailures", f.writeFailures, 4);
  counters("commandFailures", f.commandFailures, 2);
  for (const auto& [key, values] : {std::pair{"refuse", f.refuse}, std::pair{"ackAfter", f.ackAfter}}) {
    json << ", \"" << key << "\": {";
    for (int i = 0; i < 4; ++i) json << (i ? ", " : "") << "\"" << kAckKeys[i] << "\": " << values[i];
    json << "}";
  }
  json << ", \"keepConfig\": " << f.keepConfig << ", \"corruptHead\": " << f.corruptHead << "}}\n";
  return json.str();
}

std::vector<std::string> Arguments(Job job) {
  switch (job) {
    case Job::kPid:
      return {"--debug", "--prop", "pid"};
    case Job::kVid:
      return {"-d", "-p", "vid"};
    case Job::kSensorId:
      return {"-d", "--prop=sensorID"};
    case Job::kCfgVersion:
      return {"-dp", "cfgver"};
    case Job::kFirmware:
      return {"-d", "-f", "--file", "fw.bin"};
    case Job::kConfiguration:
      return {"-d", "-c", "--file", "cfg.txt"};
  }
  return {};
}

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// What the trace says, counted.
struct TraceCounts {
  uint32_t walks = 0;
  uint32_t outReports = 0;
  uint32_t inReports = 0;
  uint32_t sleeps = 0;
  uint64_t sleptMs = 0;
  uint32_t switches = 0;        // command 0x10
  uint32_t sendConfigs = 0;     // the write of 0x80 0x00 0x80 at 0x8040
  uint32_t changingReports = 0;  // anything but a register read
  std::vector<std::string> violations;
  std::vector<std::string> hidEvents;
  std::map<std::string, int> openMinusClose;
};

TraceCounts CountTrace(const std::string& trace) {
  TraceCounts counts;
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) {
    if (StartsWith(line, "violation")) {
      counts.violations.push_back(line);
      continue;
    }
    if (StartsWith(line, "sleep ")) {
      ++counts.sleeps;
      counts.sleptMs += std::stoull(line.substr(6));
      continue;
    }
    counts.hidEvents.push_back(line);
    if (line == "walk") ++counts.walks;
    if (StartsWith(line, "open ")) ++counts.openMinusClose[line.substr(5)];
    if (StartsWith(line, "close ")) --counts.openMinusClose[line.substr(6)];
    if (line == "in-failed" || StartsWith(line, "in ")) ++counts.inReports;
    const bool out = StartsWith(line, "out ");
    if (out || StartsWith(line, "out-failed ")) {
      ++counts.outReports;
      const std::vector<uint8_t> report = FromHex(line.substr(out ? 4 : 11));
      if (report.size() < 13) continue;
      const bool read = report[1] == 0x20 && report[5] == 0x01;
      if (!read) ++counts.changingReports;
      if (report[1] == 0x10) ++counts.switches;
      if (report[1] == 0x20 && report[5] == 0x00 && report[6] == 0x80 && report[7] == 0x40 && report[9] == 3 &&
          report[10] == 0x80 && report[11] == 0x00 && report[12] == 0x80) {
        ++counts.sendConfigs;
      }
    }
  }
  return counts;
}

std::string CollectionPath(uint32_t number) {
  char text[64];
  std::snprintf(text, sizeof text, "\\\\?\\hid#tessaro-sim&col%02u", number);
  return text;
}

bool OnlyLimits() {
  const char* subset = std::getenv("TESSARO_FAULT_MATRIX_SUBSET");
  return subset != nullptr && std::string(subset) == "limits";
}

// Cases show by name in gtest's messages.
void PrintTo(const MatrixCase& matrixCase, std::ostream* out) { *out << matrixCase.run.name; }

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, EndsAsTheModelSaysAndClosesTheController) {
  const MatrixCase& matrixCase = GetParam();
  const Case& run = matrixCase.run;
  if (OnlyLimits() && !matrixCase.atLimit) GTEST_SKIP() << "not at a limit; this run takes the limits only";

  const Outcome expected = Predict(run, ModelFiles());
  std::vector<InputFile> files = {{"tessaro-sim.json", StateJson(run)}};
  if (run.job == Job::kFirmware) files.push_back({"fw.bin", FirmwareImage()});
  if (run.job == Job::kConfiguration) files.push_back({"cfg.txt", testing::CfgText(ConfigBytes())});
  const e2e::RunResult result = e2e::RunSim(Arguments(run.job), files);
  SCOPED_TRACE("state file: " + StateJson(run));

  ASSERT_FALSE(result.timedOut);
  ASSERT_EQ(result.signal, 0);
  for (const char* report : {"AddressSanitizer", "LeakSanitizer", "runtime error"}) {
    EXPECT_EQ(result.err.find(report), std::string::npos) << result.err;
  }
  EXPECT_EQ(result.exitCode, ExitCode(expected.result)) << "the job's result is " << expected.result;

  ASSERT_TRUE(result.HasFile("tessaro-sim.trace"));
  const TraceCounts trace = CountTrace(result.ReadFile("tessaro-sim.trace"));
  // A write whose later report failed is seen broken off by the next report;
  // the attempt is then begun again from its first command, so the cut
  // chunk or configuration is never loaded or finished. Nothing else may
  // break the protocol.
  EXPECT_EQ(trace.violations.size(), expected.brokenWrites);
  for (const std::string& violation : trace.violations) {
    EXPECT_TRUE(StartsWith(violation, "violation write transfer at ") &&
                violation.find(" broken off after chunk 0") != std::string::npos)
        << violation;
  }
  EXPECT_EQ(trace.walks, expected.walks);
  EXPECT_EQ(trace.outReports, expected.outReports);
  EXPECT_EQ(trace.inReports, expected.inReports);
  EXPECT_EQ(trace.sleeps, expected.sleeps);
  EXPECT_EQ(trace.sleptMs, expected.sleptMs);
  if (run.job == Job::kFirmware) {
    EXPECT_EQ(trace.switches, expected.attempts);
  } else if (run.job == Job::kConfiguration) {
    EXPECT_EQ(trace.sendConfigs, expected.attempts);
  } else {
    EXPECT_EQ(trace.changingReports, 0u);  // queries never change the controller
  }

  // Every interface opened was closed; the job's own collection last of all.
  for (const auto& [path, balance] : trace.openMinusClose) EXPECT_EQ(balance, 0) << path;
  if (expected.opened) {
    ASSERT_FALSE(trace.hidEvents.empty());
    EXPECT_EQ(trace.hidEvents.back(), "close " + CollectionPath(run.device.otherCollections + 1));
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrix, ::testing::ValuesIn(Matrix()),
                         [](const ::testing::TestParamInfo<MatrixCase>& info) { return info.param.run.name; });

// The matrix as a whole: its size, and every loop limit reached at both of
// its sides, as a report for whoever reads the test output.
TEST(FaultMatrixSize, CoversEveryJob) {
  std::map<std::string, int> perJob;
  int limits = 0;
  std::set<std::string> results;
  for (const MatrixCase& matrixCase : Matrix()) {
    ++perJob[JobName(matrixCase.run.job)];
    if (matrixCase.atLimit) ++limits;
    results.insert(std::string(JobName(matrixCase.run.job)) + " " +
                   std::to_string(Predict(matrixCase.run, ModelFiles()).result));
  }
  std::printf("fault matrix: %zu cases (%d at a loop limit):", Matrix().size(), limits);
  for (const auto& [job, count] : perJob) std::printf(" %s %d,", job.c_str(), count);
  std::printf(" %zu distinct job results\n", results.size());
  EXPECT_EQ(perJob.size(), 6u);
  // Each update job reaches success and each of its failure results.
  for (const char* result : {"firmware 0", "firmware -1", "firmware -2", "config 0", "config -1", "config -2",
                             "config -3", "config -5", "config -7", "pid 0", "pid -1", "sensorid 3", "sensorid 255",
                             "cfgver 132", "cfgver 255", "vid 16777217", "vid -1"}) {
    EXPECT_EQ(results.count(result), 1u) << result;
  }
}

}  // namespace
}  // namespace tessaro::reliability
