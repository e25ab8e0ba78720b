#include "info/output.h"

#include <cstdio>

#include "base/hex.h"
#include "update/decisions.h"

namespace tessaro::info {
namespace {

std::string OptionalHex(bool known, uint16_t value) { return known ? Hex(value, 4) : "?"; }

// What the walk says of one interface: whether tessaro takes it, and why not.
std::string MatchText(const Survey& survey, const SurveyEntry& entry) {
  if (entry.taken) return "matches: tessaro takes this one";
  if (entry.matches && !survey.chosen.empty() && !SameDevicePath(entry.path, survey.chosen)) {
    return "matches, but another device is chosen";
  }
  if (entry.busy) {
    const std::string holder = entry.holderPid != 0 ? " (pid " + std::to_string(entry.holderPid) + ")" : "";
    return "matches, but another process holds it" + holder;
  }
  if (!entry.matches) return "does not match";
  return entry.opened ? "matches, but tessaro takes the first match"
                      : "matches, but tessaro passes over it: it cannot be opened";
}

}  // namespace

const char* const kRetryNote =
    "one walk found no controller; tessaro would walk 3 more times, 2000 ms apart, then fail with "
    "\"find device failed\"";
const char* const kBusyNote =
    "the controller is in use by another process; tessaro would send nothing and end at once with its "
    "open-failure result";

std::string NoDeviceNote(const std::string& chosen) {
  return "no matching collection at " + chosen + "; tessaro with TESSARO_DEVICE=" + chosen +
         " would walk 4 times, 2000 ms apart, then fail with \"no controller at TESSARO_DEVICE=" + chosen + "\"";
}

void PutMatches(Json& json, const std::string& chosen, const std::vector<std::string>& matches) {
  json["device"] = chosen.empty() ? Json(nullptr) : Json(chosen);
  json["matches"] = matches;
}

std::string MatchesText(const std::string& chosen, const std::vector<std::string>& matches, const std::string& taken) {
  std::string text;
  if (!chosen.empty()) text += "device: " + chosen + " (chosen)\n";
  if (matches.size() < 2 && chosen.empty()) return text;
  text += "matches: " + std::to_string(matches.size()) + "\n";
  for (const std::string& path : matches) text += "  " + path + (path == taken ? " (taken)\n" : "\n");
  return text;
}

std::string BusyLine(const SurveyEntry& entry) {
  return entry.holderPid != 0 ? "error     : controller in use by another process (pid " +
                                    std::to_string(entry.holderPid) + "), nothing sent"
                              : "error     : controller in use by another process, nothing sent";
}

std::string Hex(uint32_t value, int digits) { return "0x" + HexNumber(value, digits); }

std::string VidText(const uint8_t* vid, const char* separator) { return HexBytes(vid, 4, separator); }

std::string CfgVersionText(uint8_t version) {
  return Hex(version, 2) + ((version & 0x80) != 0 ? " (kept in flash)" : " (temporary)");
}

std::string Joined(const std::vector<std::string>& lines, const char* separator) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : separator) + line;
  return text;
}

std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte < 0x20 || byte == 0x7F) {
      out += "\\x" + HexNumber(byte, 2);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void PrintJson(const Json& json) {
  Json versioned = {{"schema", kJsonSchema}};
  versioned.update(json);
  std::printf("%s\n", versioned.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
}

Json ChecksJson(const std::vector<Check>& checks) {
  Json list = Json::array();
  for (const Check& check : checks) {
    list.push_back({{"name", check.name}, {"result", check.result}, {"reason", check.reason}});
  }
  return list;
}

void PrintChecks(const std::vector<Check>& checks) {
  std::printf("checks:\n");
  for (const Check& check : checks) {
    std::printf("  %-8s %s\n", check.result.c_str(), check.name.c_str());
    for (const std::string& line : check.reason) std::printf("           %s\n", Printable(line).c_str());
  }
}

Json FileJson(const std::string& name, const FileFacts& file) {
  return {{"file", name},
          {"size", file.read ? Json(file.sizeBytes) : Json(nullptr)},
          {"sha256", file.read ? Json(file.sha256) : Json(nullptr)},
          {"fileError", file.error.empty() ? Json(nullptr) : Json(file.error)}};
}

void PrintFile(const std::string& name, const FileFacts& file) {
  std::printf("file: %s\n", Printable(name).c_str());
  if (file.read) std::printf("size: %u bytes\nsha256: %s\n", file.sizeBytes, file.sha256.c_str());
  if (!file.error.empty()) std::printf("file error: %s\n", file.error.c_str());
}

Json TableJson(const FwTable& table) {
  Json entries = Json::array();
  for (const FwTableEntry& entry : table.entries) {
    entries.push_back({{"index", entry.index},
                       {"type", entry.type},
                       {"kind", entry.kind.empty() ? Json(nullptr) : Json(entry.kind)},
                       {"flashAddress", entry.flashAddress},
                       {"flashByteAddress", entry.flashByteAddress},
                       {"length", entry.length},
                       {"dataOffset", entry.dataOffset},
                       {"dataInFile", entry.dataInFile},
                       {"selected", entry.selected}});
  }
  return entries;
}

void PrintTable(const FwTable& table) {
  std::printf("table: %u entr%s\n", table.count, table.count == 1 ? "y" : "ies");
  if (table.entries.empty()) return;
  std::printf("  %-5s %-4s %-15s %-7s %-9s %-10s %-10s %s\n", "index", "type", "kind", "flash", "byte addr", "length",
              "offset", "selected");
  for (const FwTableEntry& entry : table.entries) {
    std::printf("  %-5u 0x%02X %-15s 0x%04X  0x%06X  %-10u %-10llu %s%s\n", entry.index, entry.type,
                entry.kind.empty() ? "-" : entry.kind.c_str(), entry.flashAddress, entry.flashByteAddress, entry.length,
                static_cast<unsigned long long>(entry.dataOffset), entry.selected ? "yes" : "no",
                entry.dataInFile ? "" : " (data past the end of the file)");
  }
}

Json SurveyJson(const Survey& survey) {
  Json list = Json::array();
  for (const SurveyEntry& entry : survey.entries) {
    Json item = {{"path", entry.path}, {"collection", entry.collection}};
    item["bus"] = entry.facts.bus.empty() ? Json(nullptr) : Json(entry.facts.bus);
    item["vendorId"] = entry.facts.haveIds ? Json(entry.facts.vendorId) : Json(nullptr);
    item["productId"] = entry.facts.haveIds ? Json(entry.facts.productId) : Json(nullptr);
    item["usagePage"] = entry.facts.haveUsages ? Json(entry.facts.usagePage) : Json(nullptr);
    item["usage"] = entry.facts.haveUsages ? Json(entry.facts.usage) : Json(nullptr);
    item["inputReportBytes"] = entry.facts.haveReportLengths ? Json(entry.facts.inputReportBytes) : Json(nullptr);
    item["outputReportBytes"] = entry.facts.haveReportLengths ? Json(entry.facts.outputReportBytes) : Json(nullptr);
    item["opened"] = entry.opened;
    item["error"] = entry.opened ? Json(nullptr) : Json(entry.problem.error);
    item["hint"] = entry.opened || entry.problem.hint.empty() ? Json(nullptr) : Json(entry.problem.hint);
    item["systemHeld"] = !entry.opened && entry.problem.systemHeld;
    item["matches"] = entry.matches;
    item["taken"] = entry.taken;
    item["busy"] = entry.busy;
    item["holderPid"] = entry.busy && entry.holderPid != 0 ? Json(entry.holderPid) : Json(nullptr);
    list.push_back(item);
  }
  return list;
}

void PrintSurvey(const Survey& survey) {
  for (const std::string& note : survey.hostNotes) std::printf("note: %s\n", note.c_str());
  std::printf("walk: %zu HID interface%s\n", survey.entries.size(), survey.entries.size() == 1 ? "" : "s");
  for (size_t i = 0; i < survey.entries.size(); ++i) {
    const SurveyEntry& entry = survey.entries[i];
    std::printf("[%zu] %s", i, entry.path.c_str());
    // One hidraw node carries several collections under one path.
    size_t samePath = 0;
    for (const SurveyEntry& other : survey.entries) samePath += other.path == entry.path ? 1 : 0;
    if (samePath > 1) std::printf(" collection %u", entry.collection);
    std::printf("\n    bus %s, vendor %s, product %s, usage page %s, usage %s",
                entry.facts.bus.empty() ? "?" : entry.facts.bus.c_str(),
                OptionalHex(entry.facts.haveIds, entry.facts.vendorId).c_str(),
                OptionalHex(entry.facts.haveIds, entry.facts.productId).c_str(),
                OptionalHex(entry.facts.haveUsages, entry.facts.usagePage).c_str(),
                OptionalHex(entry.facts.haveUsages, entry.facts.usage).c_str());
    // The controller's reports are 65 bytes each way; other lengths are why
    // a matching collection would not answer.
    if (entry.facts.haveReportLengths) {
      std::printf(", reports in %u / out %u bytes", entry.facts.inputReportBytes, entry.facts.outputReportBytes);
    }
    std::printf("\n");
    const std::string match = MatchText(survey, entry);
    if (entry.opened) {
      std::printf("    opened; %s\n", match.c_str());
    } else if (entry.problem.systemHeld) {
      std::printf("    held by the system (not a fault): %s; %s\n", entry.problem.error.c_str(), match.c_str());
    } else {
      std::printf("    not opened: %s; %s\n", entry.problem.error.c_str(), match.c_str());
    }
    if (!entry.opened && !entry.problem.hint.empty()) std::printf("    hint: %s\n", entry.problem.hint.c_str());
  }
}

Json ControllerJson(const CConnectionTLC& connection, const ControllerFacts& facts, bool withVersion, bool withHead) {
  if (!facts.found) return nullptr;
  Json json = {{"path", facts.path}};
  if (withVersion) {
    json["versionRead"] = facts.versionRead;
    json["pid"] = facts.versionRead ? Json(std::string(connection.pid)) : Json(nullptr);
    json["vid"] = facts.versionRead ? Json(VidText(connection.vid)) : Json(nullptr);
    json["sensorId"] = facts.versionRead ? Json(connection.sensorId) : Json(nullptr);
    json["versionErrors"] = facts.versionErrors;
  }
  if (withHead) {
    json["configHeadRead"] = facts.headRead;
    json["configVersion"] = facts.headRead ? Json(facts.head[0]) : Json(nullptr);
    json["configHead"] = facts.headRead ? Json(HexBytes(facts.head, sizeof facts.head)) : Json(nullptr);
    json["configHeadIntact"] = facts.headRead ? Json(CfgHeadIntact(facts.head)) : Json(nullptr);
    json["configHeadErrors"] = facts.headErrors;
  }
  return json;
}

std::string ControllerText(const CConnectionTLC& connection, const ControllerFacts& facts, bool withVersion,
                           bool withHead) {
  if (!facts.found) return "";
  std::string text = "controller: " + facts.path + "\n";
  if (withVersion) {
    if (facts.versionRead) {
      text += "  PID: " + Printable(connection.pid) + "\n  firmware VID: " + VidText(connection.vid) +
              "\n  sensor ID: " + std::to_string(unsigned{connection.sensorId}) + "\n";
    } else {
      text += "  VERSION block not read:\n";
      for (const std::string& line : facts.versionErrors) text += "    " + line + "\n";
    }
  }
  if (withHead) {
    if (facts.headRead) {
      text += "  configuration version: " + CfgVersionText(facts.head[0]) + ", head " +
              HexBytes(facts.head, sizeof facts.head, " ") + (CfgHeadIntact(facts.head) ? " intact\n" : " damaged\n");
    } else {
      text += "  configuration head not read:\n";
      for (const std::string& line : facts.headErrors) text += "    " + line + "\n";
    }
  }
  return text;
}

}  // namespace tessaro::info
