// tessaro-info-sim end to end: what it finds, reads and decides against the
// simulated controller, its exit codes and JSON, that it never sends a report
// that changes anything, and that it refuses every file tessaro refuses with
// tessaro's own reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/jobs_support.h"
#include "tools/image_builder.h"

namespace tessaro::e2e {
namespace {

using Json = nlohmann::json;

constexpr int kOk = 0, kNoUpdate = 1, kRefused = 2, kNoController = 3, kUnreadable = 4, kBusy = 5, kUsage = 64;

Json JsonOf(const RunResult& run) {
  try {
    return Json::parse(KeepForSchemaCheck(run.out));
  } catch (const Json::exception& error) {
    ADD_FAILURE() << error.what() << "\n" << run.out;
    return Json::object();
  }
}

// Only reads cross the wire: a run of tessaro-info changes nothing.
void ExpectOnlyReads(const RunResult& run) {
  for (const std::string& event : Timeline(run)) {
    EXPECT_TRUE(event == "walk" || event.rfind("open", 0) == 0 || event.rfind("close", 0) == 0 ||
                event.rfind("read ", 0) == 0)
        << event;
  }
  EXPECT_TRUE(Sleeps(run).empty());
}

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  int count = 0;
  for (const std::string& line : lines) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find(' ', start), text.size());
    words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

std::string WithConfig(const std::vector<uint8_t>& bytes) {
  std::string hex;
  for (const uint8_t byte : bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return "\"config\": \"" + hex + "\"";
}

TEST(Info, DevicesOfEachSimulatedHost) {
  struct Case {
    const char* name;
    std::string state;
    int exitCode;
    size_t interfaces;
    int taken;         // -1: no controller
    std::string hint;  // the start of the one hint, "" for none
  };
  const std::vector<Case> cases = {
      {"fresh controller", "", kOk, 1, 0, ""},
      {"no controller", R"("present": false)", kNoController, 0, -1, "the system shows no HID interfaces at all"},
      {"foreign vendor only", R"("vendorId": 4660, "otherCollections": 1)", kNoController, 2, -1,
       "[1] has the controller's usages but vendor 0x1234, and this build of tessaro takes vendor 0x0000 only"},
      {"several matching", R"("otherCollections": 2, "matchingCollections": 2)", kOk, 4, 2, ""},
      {"walk finds nothing", R"("otherCollections": 1, "faults": {"openFailures": 2})", kNoController, 1, -1, ""},
      {"VERSION unreadable", R"("faults": {"readFailures": {"8240": 5}})", kUnreadable, 1, 0, ""},
      {"VERSION of another length", R"("faults": {"lengthMismatch": {"8240": 5}})", kUnreadable, 1, 0, ""},
      {"head unreadable", R"("faults": {"readFailures": {"8050": 1}})", kUnreadable, 1, 0, ""},
      {"VERSION on the fifth read", R"("faults": {"readFailures": {"8240": 4}})", kOk, 1, 0, ""},
      {"damaged head", WithConfig({0x84, 0x01, 0x7C}), kOk, 1, 0, "the configuration head does not sum to 0"},
      {"left in its update program", R"("mode": "updateProgram")", kOk, 1, 0,
       "the controller is still in its update program"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult run = RunInfoSim({"devices", "--json"}, {SimState(c.state)});
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.err, "");
    const Json json = JsonOf(run);
    EXPECT_EQ(json["exitCode"], c.exitCode);
    ASSERT_EQ(json["hints"].size(), c.hint.empty() ? 0u : 1u) << json["hints"].dump();
    if (!c.hint.empty()) {
      EXPECT_EQ(json["hints"][0].get<std::string>().rfind(c.hint, 0), 0u) << json["hints"][0];
    }
    ASSERT_EQ(json["interfaces"].size(), c.interfaces);
    for (size_t i = 0; i < c.interfaces; ++i) {
      const Json& entry = json["interfaces"][i];
      EXPECT_EQ(entry["taken"], static_cast<int>(i) == c.taken);
      EXPECT_TRUE(entry["opened"].get<bool>());
      EXPECT_EQ(entry["bus"], "I2C");
      const bool vendorCollection = entry["usagePage"] == 0xFFF0 && entry["usage"] == 1;
      EXPECT_EQ(entry["matches"], vendorCollection && entry["vendorId"] == json["build"]["vendorId"]);
    }
    // One walk, never the job's four, and nothing but reads.
    EXPECT_EQ(CountPrefix(TraceLines(run), "walk"), 1);
    ExpectOnlyReads(run);
    if (c.taken < 0) {
      EXPECT_TRUE(json["controller"].is_null());
      EXPECT_NE(json["note"].get<std::string>().find("tessaro would walk 3 more times"), std::string::npos);
      continue;
    }
    const Json& controller = json["controller"];
    EXPECT_EQ(controller["path"], json["interfaces"][static_cast<size_t>(c.taken)]["path"]);
    EXPECT_EQ(controller["versionRead"], c.name != std::string("VERSION unreadable") &&
                                             c.name != std::string("VERSION of another length"));
    if (controller["versionRead"].get<bool>()) {
      EXPECT_EQ(controller["pid"], "TS01");
      EXPECT_EQ(controller["vid"], "01 00 00 01");
      EXPECT_EQ(controller["sensorId"], 3);
    } else {
      EXPECT_EQ(controller["versionErrors"].back(), "error     : Failed read VERSION, retry=1");
    }
    if (controller["configHeadRead"].get<bool>()) {
      EXPECT_EQ(controller["configVersion"], 0x84);
      EXPECT_EQ(controller["configHeadIntact"], c.name != std::string("damaged head"));
    } else {
      EXPECT_FALSE(controller["configHeadErrors"].empty());
    }
  }
}

// --device takes the controller tessaro's TESSARO_DEVICE would, on a host of
// three; devices and plan name every match and the one taken.
TEST(Info, DeviceChoosesTheControllerAndEveryMatchIsNamed) {
  const Json all = {SimPath(1), SimPath(2), SimPath(3)};
  for (int chosen = 1; chosen <= 3; ++chosen) {
    SCOPED_TRACE(chosen);
    const std::vector<InputFile> files = {SimState(R"("controllers": 3)"), SampleFirmware()};
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"devices", "--json", "--device", SimPath(chosen)},
             {"--json", "plan", "firmware", "fw.bin", "--device=" + SimPath(chosen)}}) {
      const RunResult run = RunInfoSim(args, files);
      EXPECT_EQ(run.exitCode, kOk);
      const Json json = JsonOf(run);
      EXPECT_EQ(json["controller"]["path"], SimPath(chosen));
      EXPECT_EQ(json["device"], SimPath(chosen));
      EXPECT_EQ(json["matches"], all);
    }
    const RunResult text = RunInfoSim({"devices", "--device", SimPath(chosen)}, files);
    EXPECT_NE(text.out.find(TextMode("matches: 3\n")), std::string::npos);
    EXPECT_NE(text.out.find(TextMode("  " + SimPath(chosen) + " (taken)\n")), std::string::npos);
  }
  const RunResult wrong = RunInfoSim({"devices", "--json", "--device", "nowhere"}, {SimState(R"("controllers": 2)")});
  EXPECT_EQ(wrong.exitCode, kNoController);
  const Json json = JsonOf(wrong);
  EXPECT_TRUE(json["controller"].is_null());
  EXPECT_NE(json["note"].get<std::string>().find("\"no controller at TESSARO_DEVICE=nowhere\""), std::string::npos);
}

TEST(Info, DevicesAsText) {
  const RunResult run = RunInfoSim({"devices"}, {SimState(R"("otherCollections": 1)")});
  EXPECT_EQ(run.exitCode, kOk);
  EXPECT_EQ(run.out, TextMode("build: vendor 0x0000, usage page 0xFFF0, usage 0x0001\n"
                              "walk: 2 HID interfaces\n"
                              "[0] \\\\?\\hid#tessaro-sim&col01\n"
                              "    bus I2C, vendor 0x0000, product 0x0001, usage page 0x000D, usage 0x0004\n"
                              "    opened; does not match\n"
                              "[1] \\\\?\\hid#tessaro-sim&col02\n"
                              "    bus I2C, vendor 0x0000, product 0x0001, usage page 0xFFF0, usage 0x0001\n"
                              "    opened; matches: tessaro takes this one\n"
                              "controller: \\\\?\\hid#tessaro-sim&col02\n"
                              "  PID: TS01\n"
                              "  firmware VID: 01 00 00 01\n"
                              "  sensor ID: 3\n"
                              "  configuration version: 0x84 (kept in flash), head 84 00 7c intact\n"));
  // tessaro-info keeps no log file.
  EXPECT_FALSE(run.HasFile(kLogFile));
}

TEST(Info, FirmwareTableAndMask) {
  struct Case {
    std::vector<std::string> flag;
    int exitCode;
    std::vector<bool> selected;  // per entry of the sample: KV30, small sys, short, boot code, Q5
    std::string failedCheck;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {{}, kOk, {true, false, true, false, true}, "", ""},
      {{"--flag", "18532"}, kOk, {true, true, true, true, true}, "", ""},  // 0x4864: every kind
      {{"--flag=0x44"},
       kRefused,
       {true, false, true, false, false},
       "needed kinds selected (KV30, Q5, short test code)",
       "error     : Q5 didn't been update"},
      {{"--flag", "-1"}, kOk, {true, true, true, true, true}, "", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--json", "firmware", "fw.bin"};
    args.insert(args.end(), c.flag.begin(), c.flag.end());
    SCOPED_TRACE(args.back());
    const RunResult run = RunInfoSim(args, {SampleFirmware()});
    EXPECT_EQ(run.exitCode, c.exitCode);
    const Json json = JsonOf(run);
    EXPECT_EQ(json["size"], SampleFirmware().bytes.size());
    EXPECT_EQ(json["sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(json["pid"], "TS01");
    EXPECT_EQ(json["vid"], "01 00 00 02");
    ASSERT_EQ(json["entries"].size(), c.selected.size());
    uint64_t offset = 256;
    for (size_t i = 0; i < c.selected.size(); ++i) {
      const Json& entry = json["entries"][i];
      EXPECT_EQ(entry["selected"], c.selected[i]) << i;
      EXPECT_EQ(entry["dataOffset"], offset);
      EXPECT_EQ(entry["flashByteAddress"], entry["flashAddress"].get<uint32_t>() * 256);
      offset += entry["length"].get<uint64_t>();
    }
    for (const Json& check : json["checks"]) {
      const bool failed = check["name"] == c.failedCheck;
      EXPECT_EQ(check["result"], failed ? "failed" : "passed") << check["name"];
      if (failed) {
        EXPECT_EQ(check["reason"], Json::array({c.reason}));
      }
    }
    EXPECT_TRUE(Timeline(run).empty());  // the controller is not even walked
  }
}

TEST(Info, DoubtfulImagesLoadWithWarnings) {
  using testing::MakeSubFirmware;
  testing::FwImageSpec spec;
  spec.pidField = "TS01";
  spec.subs = {MakeSubFirmware(2, 0, 0x00, 1), MakeSubFirmware(6, 600, 0x10, 2), MakeSubFirmware(11, 600, 0x11, 3)};
  spec.trailer = "left over";
  const RunResult run = RunInfoSim({"firmware", "--json", "fw.bin"}, {{"fw.bin", testing::BuildFwImage(spec)}});
  EXPECT_EQ(run.exitCode, kOk);
  const Json warnings = JsonOf(run)["warnings"];
  ASSERT_EQ(warnings.size(), 3u) << warnings.dump();
  EXPECT_NE(warnings[0].get<std::string>().find("needed kind of length 0"), std::string::npos);
  EXPECT_NE(warnings[1].get<std::string>().find("entries 1 and 2 overlap"), std::string::npos);
  EXPECT_NE(warnings[2].get<std::string>().find("9 bytes after the last entry"), std::string::npos);
}

TEST(Info, ConfigurationFacts) {
  struct Case {
    std::string text;
    int exitCode;
    Json tokens;
    Json version;
    Json keptInFlash;
    std::string warning;  // part of the last warning, "" for none
  };
  const std::vector<Case> cases = {
      {testing::CfgText(testing::BalancedCfgBytes(0x85, {1, 2, 3})), kOk, 5, 0x85, true, ""},
      {testing::CfgText(testing::BalancedCfgBytes(0x21, {})), kOk, 2, 0x21, false, ""},
      {testing::CfgText(std::vector<uint8_t>(32689, 0)), kRefused, 32689, 0, false, ""},
      {"0x80,0x01,0x7E", kRefused, nullptr, nullptr, nullptr, ""},
      // The loader's rules take a shell script: its one 'x' is a byte 0x00.
      {"#!/bin/sh\nexit 0\n", kOk, 1, 0, false,
       "not only 0xHH tokens (first other text at line 1, column 1): the loader takes every 'x' as the start of a "
       "byte, so 1 of its 1 bytes come from other text"},
      {"0x85, 0x7B\r\n# tuned\n", kOk, 2, 0x85, true, "at line 2, column 1): 6 characters outside the tokens"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    const RunResult run = RunInfoSim({"config", "cfg.txt", "--json"}, {{"cfg.txt", c.text}});
    EXPECT_EQ(run.exitCode, c.exitCode);
    const Json json = JsonOf(run);
    EXPECT_EQ(json["tokens"], c.tokens);
    EXPECT_EQ(json["version"], c.version);
    EXPECT_EQ(json["keptInFlash"], c.keptInFlash);
    EXPECT_EQ(json["accepted"], c.exitCode == kOk);
    const bool warned = !json["warnings"].empty() &&
                        json["warnings"].back().get<std::string>().find("0xHH tokens") != std::string::npos;
    EXPECT_EQ(warned, !c.warning.empty()) << json["warnings"].dump();
    if (warned) {
      EXPECT_NE(json["warnings"].back().get<std::string>().find(c.warning), std::string::npos);
    }
  }
}

// The plan's counts are those of the run it foretells: the same reports and
// sleeps cross the wire when tessaro-sim does the job.
TEST(Info, PlanOfEachOutcome) {
  struct Case {
    const char* name;
    std::vector<std::string> job;  // the plan's words after "plan"
    std::vector<InputFile> files;
    std::string state;
    std::string decision;
    int exitCode;
    int tessaroExitCode;
  };
  const std::string corrupt = SampleFirmware().bytes.substr(0, 300);
  const std::vector<Case> cases = {
      {"firmware update", {"firmware", "fw.bin"}, {SampleFirmware()}, "", "update", kOk, 0},
      {"another PID", {"firmware", "fw.bin"}, {SampleFirmware()}, R"("pid": "TS02")", "no-update", kNoUpdate, 0},
      {"same VID", {"firmware", "fw.bin"}, {SampleFirmware()}, R"("vid": "01000002")", "no-update", kNoUpdate, 0},
      {"same VID, ignored", {"firmware", "fw.bin", "-i"}, {SampleFirmware()}, R"("vid": "01000002")", "update", kOk, 0},
      {"image damaged", {"firmware", "fw.bin"}, {{"fw.bin", corrupt}}, "", "refused", kRefused, -2},
      {"mask without Q5", {"firmware", "fw.bin", "--flag", "68"}, {SampleFirmware()}, "", "refused", kRefused, -1},
      {"no-controller", {"firmware", "fw.bin"}, {SampleFirmware()}, R"("present": false)", "no-controller",
       kNoController, -1},
      {"VERSION unreadable", {"firmware", "fw.bin"}, {SampleFirmware()}, R"("faults": {"readFailures": {"8240": 5}})",
       "unreadable", kUnreadable, -2},
      {"configuration update", {"config", "cfg.txt"}, {SampleConfig()}, "", "update", kOk, 0},
      {"same version", {"config", "cfg.txt"}, {SampleConfig()}, WithConfig(testing::BalancedCfgBytes(0x85, {0})),
       "no-update", kNoUpdate, -6},
      {"newer version, ignored", {"config", "cfg.txt", "--ignoreVer"}, {SampleConfig()},
       WithConfig(testing::BalancedCfgBytes(0x90, {0})), "update", kOk, 0},
      {"head unreadable", {"config", "cfg.txt"}, {SampleConfig()}, R"("faults": {"readFailures": {"8050": 1}})",
       "update", kOk, 0},
      {"configuration damaged", {"config", "cfg.txt"}, {{"cfg.txt", "0x80,0x01,0x7E"}}, "", "refused", kRefused, -2},
      {"no controller for it", {"config", "cfg.txt"}, {SampleConfig()}, R"("present": false)", "no-controller",
       kNoController, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<InputFile> files = c.files;
    files.push_back(SimState(c.state));
    std::vector<std::string> args = {"--json", "plan"};
    args.insert(args.end(), c.job.begin(), c.job.end());
    const RunResult plan = RunInfoSim(args, files);
    EXPECT_EQ(plan.exitCode, c.exitCode);
    const Json json = JsonOf(plan);
    EXPECT_EQ(json["decision"], c.decision);
    EXPECT_EQ(json["tessaroExitCode"], c.tessaroExitCode);
    EXPECT_EQ(CountPrefix(TraceLines(plan), "walk"), 1);
    ExpectOnlyReads(plan);

    // What tessaro-sim then does with the same controller and file, run as
    // the command the plan prints (these file names need no quotes).
    std::vector<std::string> jobArgs = Words(json["tessaroCommand"].get<std::string>());
    ASSERT_EQ(jobArgs.at(0), "tessaro");
    jobArgs.erase(jobArgs.begin());
    const RunResult job = RunSim(jobArgs, files);
    EXPECT_EQ(job.exitCode, ExitCode(c.tessaroExitCode));
    for (const Json& line : json["lines"]) {
      EXPECT_NE(job.out.find(TextMode(line.get<std::string>())), std::string::npos) << line;
    }
    if (c.decision == "update") {
      const std::vector<std::string> trace = TraceLines(job);
      EXPECT_EQ(json["outputReports"], CountPrefix(trace, "out "));
      EXPECT_EQ(json["inputReports"], CountPrefix(trace, "in ") + CountPrefix(trace, "in-failed"));
      uint32_t sleptMs = 0;
      for (const uint32_t ms : Sleeps(job)) sleptMs += ms;
      EXPECT_EQ(json["minimumWaitMs"], sleptMs);
    }
  }
}

// Every file tessaro refuses, tessaro-info refuses with tessaro's own lines.
TEST(Info, RefusesWhatTessaroRefusesWithItsReason) {
  const std::string image = SampleFirmware().bytes;
  std::string badChecksum = image;
  badChecksum[400] = static_cast<char>(badChecksum[400] ^ 0x10);
  std::string badLength = image + "x";
  testing::SealFwImage(badLength);
  badLength[3] = static_cast<char>(badLength[3] + 1);
  std::string tooManyEntries = image;
  tooManyEntries[27] = 29;
  testing::SealFwImage(tooManyEntries);
  std::string dataPastEnd = image;
  dataPastEnd[32 + 1] = 0x10;
  testing::SealFwImage(dataPastEnd);
  std::string pastFlash = image;
  pastFlash[32 + 5] = static_cast<char>(0xFF);
  pastFlash[32 + 6] = static_cast<char>(0xFF);
  testing::SealFwImage(pastFlash);
  const std::vector<std::pair<std::string, std::string>> firmware = {
      {"short", image.substr(0, 255)}, {"checksum", badChecksum},   {"length", badLength},
      {"count", tooManyEntries},       {"data", dataPastEnd},       {"flash", pastFlash},
      {"empty", ""}};
  const std::vector<std::pair<std::string, std::string>> config = {
      {"checksum", "0x80,0x01,0x7E"}, {"no tokens", "80 01 7F"}, {"empty", ""}};
  struct Variant {
    std::string name;
    bool isFirmware;
    std::string bytes;
  };
  std::vector<Variant> variants;
  for (const auto& v : firmware) variants.push_back({"firmware " + v.first, true, v.second});
  for (const auto& v : config) variants.push_back({"config " + v.first, false, v.second});
  variants.push_back({"firmware missing", true, std::string("\0", 0)});
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    std::vector<InputFile> files = {SimState()};
    if (v.name != "firmware missing") files.push_back({"file", v.bytes});
    const RunResult info = RunInfoSim({v.isFirmware ? "firmware" : "config", "file", "--json"}, files);
    EXPECT_EQ(info.exitCode, kRefused);
    const Json json = JsonOf(info);
    int failed = 0;
    const RunResult tool = RunSim({v.isFirmware ? "-f" : "-c", "--file", "file"}, files);
    EXPECT_NE(tool.exitCode, 0);
    for (const Json& check : json["checks"]) {
      if (check["result"] != "failed") continue;
      ++failed;
      ASSERT_FALSE(check["reason"].empty());
      for (const Json& line : check["reason"]) {
        EXPECT_NE(tool.out.find(TextMode(line.get<std::string>() + "\n")), std::string::npos) << line << tool.out;
      }
    }
    EXPECT_EQ(failed, 1);
    // tessaro never switched the controller to its update program for it.
    for (const std::string& event : Timeline(tool)) EXPECT_EQ(event.find("0e10"), std::string::npos) << event;
  }
}

// What a person reads: the system's reason for a file that cannot be
// opened and no verdict of a mask for it, control bytes of a file shown as
// \xHH, the tessaro command a plan foretells.
TEST(Info, WordsAUserCanActOn) {
  // The system's own words for a missing file.
  const std::string missing = IsWindowsBuild() ? "(error 2)" : "No such file or directory (errno 2)";
  std::string escapePid = SampleFirmware().bytes;
  escapePid.replace(15, 4, "T\x1B[J");
  testing::SealFwImage(escapePid);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<InputFile> files;
    int exitCode;
    std::vector<std::string> shown;
    std::vector<std::string> notShown;
  };
  const std::vector<Case> cases = {
      {"firmware missing", {"firmware", "fw.bin"}, {}, kRefused,
       {"file error: cannot be opened: ", missing, "verdict: refused: the file was not read\n"}, {"for mask"}},
      {"plan of a configuration missing", {"plan", "config", "my cfg.txt"}, {}, kRefused,
       {"command: tessaro -c --file=\"my cfg.txt\"\n", "decision: refused: the configuration file cannot be opened: ",
        missing}, {}},
      {"control bytes in the PID", {"firmware", "fw.bin"}, {{"fw.bin", escapePid}}, kOk, {"PID: T\\x1B[J\n"},
       {"\x1B"}},
      {"plan with every option", {"plan", "firmware", "fw.bin", "--flag=0x80000844", "-i"}, {SampleFirmware()}, kOk,
       {"command: tessaro -f --file=fw.bin --flag=-2147481532 --ignoreVer\n"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<InputFile> files = c.files;
    files.push_back(SimState());
    const RunResult run = RunInfoSim(c.args, files);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out;
    for (const std::string& text : c.shown) {
      EXPECT_NE(run.out.find(TextMode(text)), std::string::npos) << text << "\n" << run.out;
    }
    for (const std::string& text : c.notShown) EXPECT_EQ(run.out.find(text), std::string::npos) << text;
  }
}

// A controller left in its update program: devices says to run the update
// again, and after that run says nothing more. The companion adds its lines
// to the simulator's trace after the job's, which it does not wipe.
TEST(Info, AdviceForAControllerLeftInItsUpdateProgram) {
  if (IsWindowsBuild()) GTEST_SKIP() << "the simulator's files behave alike; the Windows words are tested above";
  const RunResult folder = Folder({SampleFirmware(), SimState(R"("mode": "updateProgram")")});
  const RunResult before = RunIn(folder, {"--json", "devices"}, Program::kInfoSim);
  ASSERT_EQ(JsonOf(before)["hints"].size(), 1u);
  EXPECT_NE(JsonOf(before)["hints"][0].get<std::string>().find("run the firmware update again"), std::string::npos);
  const RunResult job = RunIn(folder, {"-f", "--file=fw.bin"}, Program::kSim);
  EXPECT_EQ(job.exitCode, 0) << job.out;
  const std::vector<std::string> jobTrace = TraceLines(job);
  const RunResult after = RunIn(folder, {"--json", "devices"}, Program::kInfoSim);
  EXPECT_TRUE(JsonOf(after)["hints"].empty()) << after.out;
  const std::vector<std::string> trace = TraceLines(after);
  ASSERT_GT(trace.size(), jobTrace.size());
  EXPECT_TRUE(std::equal(jobTrace.begin(), jobTrace.end(), trace.begin()));
  EXPECT_EQ(trace[jobTrace.size()], "walk");
}

// Real time, kept short: a firmware update holds the simulated controller
// through its own sleeps (about two seconds); tessaro-info run meanwhile
// finds it busy, as tessaro would, and sends it nothing.
TEST(Info, ControllerHeldByAnotherProcess) {
  const RunResult folder = Folder({SampleFirmware(), SampleConfig(), {kStateFile, "{\"virtualTime\": false}\n"}});
  StartedRun job = Start(folder, {"-f", "--file", "fw.bin"}, Program::kSim);
  for (int waited = 0; waited < 1000 && folder.ReadFile(kTraceFile).find("sleep 250") == std::string::npos; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const RunResult devices = RunIn(folder, {"--json", "devices"}, Program::kInfoSim);
  const RunResult plan = RunIn(folder, {"plan", "config", "cfg.txt", "--json"}, Program::kInfoSim);
  const RunResult done = job.Wait();
  EXPECT_EQ(done.exitCode, 0) << done.out;
  EXPECT_EQ(devices.exitCode, kBusy) << devices.out;
  const Json listing = JsonOf(devices);
  EXPECT_TRUE(listing["controller"].is_null());
  ASSERT_EQ(listing["interfaces"].size(), 1u);
  EXPECT_TRUE(listing["interfaces"][0]["busy"].get<bool>());
  EXPECT_FALSE(listing["interfaces"][0]["taken"].get<bool>());
  EXPECT_EQ(plan.exitCode, kBusy) << plan.out;
  const Json decision = JsonOf(plan);
  EXPECT_EQ(decision["decision"], "busy");
  EXPECT_EQ(decision["tessaroExitCode"], -1);
  EXPECT_EQ(decision["lines"][0].get<std::string>().rfind("error     : controller in use by another process", 0), 0u);
}

// The real program on the host's own HID devices: under Wine its mouse and
// keyboard (vendor 0x845E), listed with vendor and usages, none matching.
TEST(Info, ListsTheHostsOwnDevices) {
  RunOptions options;
  options.program = Program::kInfo;
  RunResult run = RunTool({"devices", "--json"}, {}, options);
  Json json = JsonOf(run);
  EXPECT_EQ(json["exitCode"], run.exitCode);
  if (!IsWindowsBuild()) return;  // a Linux host's devices are its own business
  // Wine starts its virtual devices with the prefix's device service, which
  // may still be coming up: give it a few seconds before judging.
  for (int wait = 0; wait < 5 && json["interfaces"].empty(); ++wait) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    run = RunTool({"devices", "--json"}, {}, options);
    json = JsonOf(run);
  }
  if (json["interfaces"].empty()) GTEST_SKIP() << "the host shows no HID interfaces yet (a new Wine prefix)";
  EXPECT_EQ(run.exitCode, kNoController);
  int wineDevices = 0;
  for (const Json& entry : json["interfaces"]) {
    EXPECT_FALSE(entry["matches"].get<bool>()) << entry.dump();
    if (entry["vendorId"] != 0x845E) continue;
    ++wineDevices;
    EXPECT_FALSE(entry["usagePage"].is_null()) << entry.dump();
    EXPECT_FALSE(entry["usage"].is_null()) << entry.dump();
    // From the class driver's caps; the bus from the nodes above, which
    // for Wine's own bus name none that Windows machines show.
    EXPECT_TRUE(entry["inputReportBytes"].is_number()) << entry.dump();
    EXPECT_TRUE(entry["bus"].is_string()) << entry.dump();
  }
  EXPECT_GE(wineDevices, 1) << run.out;
}

TEST(Info, CommandLine) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string errStart;
  };
  const std::vector<Case> cases = {
      {{}, kUsage, "tessaro-info: no command\n"},
      {{"--help"}, kOk, "usage: tessaro-info [options] devices\n"},
      {{"devices", "extra"}, kUsage, "tessaro-info: unknown command or wrong number of arguments: devices extra\n"},
      {{"config", "c.txt", "--flag", "4"}, kUsage, "tessaro-info: --flag belongs to firmware commands\n"},
      {{"firmware", "f.bin", "-i"}, kUsage, "tessaro-info: --ignoreVer belongs to plan\n"},
      {{"firmware", "f.bin", "--flag", "0x1FFFFFFFF"}, kUsage, "tessaro-info: --flag: not a 32-bit number"},
      {{"firmware", "f.bin", "--flag"}, kUsage, "tessaro-info: --flag needs a value\n"},
      {{"--bogus", "devices"}, kUsage, "tessaro-info: unknown option: --bogus\n"},
      {{"plan", "firmware"}, kUsage, "tessaro-info: unknown command"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    const RunResult run = RunInfoSim(c.args, {SimState()});
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.err.rfind(TextMode(c.errStart), 0), 0u) << run.err;
    EXPECT_TRUE(Timeline(run).empty());
    if (c.exitCode != kUsage) continue;
    // With --json the same error is also an object on standard output.
    std::vector<std::string> args = {"--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult json = RunInfoSim(args, {SimState()});
    EXPECT_EQ(json.exitCode, kUsage);
    const Json error = JsonOf(json);
    EXPECT_EQ(("tessaro-info: " + error["error"].get<std::string>() + "\n").rfind(c.errStart, 0), 0u) << json.out;
    EXPECT_EQ(error["exitCode"], kUsage);
  }
  const RunResult version = RunInfoSim({"--version"}, {SimState()});
  EXPECT_EQ(version.exitCode, kOk);
  EXPECT_EQ(version.out, TextMode("1.0.1.3\n"));
}

}  // namespace
}  // namespace tessaro::e2e
