#include "tests/support/wire_timeline.h"

#include <cstdio>

#include "tests/support/fake_hid.h"
#include "transport/registers.h"

namespace tessaro::testing {
namespace {

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// The report of an "out" or "out-failed" line; empty for other lines.
std::vector<uint8_t> OutReport(const std::string& line, bool& delivered) {
  delivered = StartsWith(line, "out ");
  if (delivered) return FromHex(line.substr(4));
  if (StartsWith(line, "out-failed ")) return FromHex(line.substr(11));
  return {};
}

std::string Hex16(uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
  return text;
}

uint16_t Address(const std::vector<uint8_t>& report) { return static_cast<uint16_t>(report[6] << 8 | report[7]); }
bool IsAccess(const std::vector<uint8_t>& report, uint8_t direction) {
  return report.size() >= 10 && report[1] == reg::kCmdRegisterAccess && report[5] == direction;
}
std::vector<uint8_t> WriteData(const std::vector<uint8_t>& report) {
  const size_t count = report[4] >= 5 ? report[4] - 5u : 0u;
  const size_t end = 10 + count < report.size() ? 10 + count : report.size();
  return std::vector<uint8_t>(report.begin() + 10, report.begin() + static_cast<std::ptrdiff_t>(end));
}

}  // namespace

std::vector<std::string> CompactTrace(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    bool delivered = false;
    const std::vector<uint8_t> report = OutReport(line, delivered);
    if (report.empty()) {
      if (line == "walk" || StartsWith(line, "sleep ") || StartsWith(line, "violation ")) out.push_back(line);
      if (StartsWith(line, "open ")) out.push_back("open");
      if (StartsWith(line, "close ")) out.push_back("close");
      continue;
    }
    const std::string failed = delivered ? "" : "FAIL ";
    if (IsAccess(report, reg::kDirRead)) {
      std::string text = failed + "read " + Hex16(Address(report));
      if (delivered && i + 1 < lines.size() && (StartsWith(lines[i + 1], "in ") || lines[i + 1] == "in-failed")) {
        ++i;
        if (lines[i] == "in-failed") {
          text += " -> fail";
        } else {
          const std::vector<uint8_t> in = FromHex(lines[i].substr(3));
          const size_t announced = size_t{in[3]} << 8 | in[4];
          const size_t asked = size_t{report[8]} << 8 | report[9];
          text += announced != asked
                      ? " -> length " + std::to_string(announced)
                      : " -> " + Hex(std::vector<uint8_t>(in.begin() + 5, in.begin() + 5 + static_cast<std::ptrdiff_t>(asked)));
        }
      }
      out.push_back(text);
    } else if (IsAccess(report, reg::kDirWrite)) {
      // Join the reports of one transfer: each but the last says more follows.
      std::vector<uint8_t> data = WriteData(report);
      bool ok = delivered;
      bool more = report[2] != 0;
      while (ok && more && i + 1 < lines.size()) {
        bool nextDelivered = false;
        const std::vector<uint8_t> next = OutReport(lines[i + 1], nextDelivered);
        if (!IsAccess(next, reg::kDirWrite)) break;
        ++i;
        const std::vector<uint8_t> part = WriteData(next);
        data.insert(data.end(), part.begin(), part.end());
        ok = nextDelivered;
        more = next[2] != 0;
      }
      const std::string shown = data.size() > 8 ? "[" + std::to_string(data.size()) + "]" : Hex(data);
      out.push_back((ok ? "" : "FAIL ") + std::string("write ") + Hex16(Address(report)) + " " + shown);
    } else if (report[1] == reg::kCmdLoadFlash) {
      out.push_back(failed + "load " + Hex({report[5], report[6]}) + " " + Hex({report[7], report[8]}) + " " +
                    Hex({report[9], report[10]}));
    } else {
      out.push_back(failed + "cmd " + Hex({report[1]}));
    }
  }
  return out;
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
        const std::string line = width == 1 ? lines[i] : "{" + lines[i] + " | " + lines[i + 1] + "}";
        out.push_back(line + " x" + std::to_string(repeats));
        i += repeats * width;
        collapsed = true;
      }
    }
    if (!collapsed) out.push_back(lines[i++]);
  }
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::vector<Transfer> TraceTransfers(const std::vector<std::string>& lines) {
  std::vector<Transfer> transfers;
  bool continuing = false;
  for (const std::string& line : lines) {
    bool delivered = false;
    const std::vector<uint8_t> report = OutReport(line, delivered);
    if (!delivered || !IsAccess(report, reg::kDirWrite)) continue;
    if (!continuing) transfers.push_back({Address(report), {}});
    const std::vector<uint8_t> part = WriteData(report);
    transfers.back().data.insert(transfers.back().data.end(), part.begin(), part.end());
    continuing = report[2] != 0;
  }
  return transfers;
}

std::vector<std::vector<uint8_t>> TraceLoadCommands(const std::vector<std::string>& lines) {
  std::vector<std::vector<uint8_t>> commands;
  for (const std::string& line : lines) {
    bool delivered = false;
    const std::vector<uint8_t> report = OutReport(line, delivered);
    if (report.size() >= 11 && report[1] == reg::kCmdLoadFlash) commands.emplace_back(report.begin(), report.begin() + 11);
  }
  return commands;
}

}  // namespace tessaro::testing
