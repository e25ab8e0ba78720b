#include "tests/e2e/jobs_support.h"

#include <algorithm>

#include "tools/make-samples.h"

namespace tessaro::e2e {
namespace {

uint32_t BigEndian(const std::string& bytes, size_t offset, int width) {
  uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = value << 8 | static_cast<uint8_t>(bytes[offset + static_cast<size_t>(i)]);
  return value;
}

}  // namespace

std::string SimPath(int number) {
  return std::string("\\\\?\\hid#tessaro-sim&col") + (number < 10 ? "0" : "") + std::to_string(number);
}

std::string ControllerFile(int number, const std::string& ext) {
  return number == 1 ? "tessaro-sim." + ext : "tessaro-sim-" + std::to_string(number) + "." + ext;
}

InputFile SimState(const std::string& moreKeys) {
  return {kStateFile, "{\"virtualTime\": true" + (moreKeys.empty() ? "" : ", " + moreKeys) + "}\n"};
}

InputFile SampleFirmware(const std::string& name) { return {name, samples::SampleFirmwareImage()}; }
InputFile SampleConfig(const std::string& name) { return {name, samples::SampleConfiguration()}; }

std::vector<std::string> TraceLines(const RunResult& run) { return testing::SplitLines(run.ReadFile(kTraceFile)); }

std::vector<std::string> Timeline(const RunResult& run) { return testing::CompactTrace(TraceLines(run)); }

std::vector<uint32_t> Sleeps(const RunResult& run) {
  std::vector<uint32_t> sleeps;
  for (const std::string& line : TraceLines(run)) {
    if (line.rfind("sleep ", 0) == 0) sleeps.push_back(static_cast<uint32_t>(std::stoul(line.substr(6))));
  }
  return sleeps;
}

std::string LogFileOf(const std::vector<std::string>& messages) {
  std::string text;
  for (const std::string& message : messages) text += "YYYY-MM-DD HH:MM:SS:mmm -> " + message;
  return TextMode(text + "\n");
}

std::string ConsoleOf(const std::string& entryText, const std::vector<std::string>& messages) {
  std::string text = entryText;
  for (const std::string& message : messages) text += message;
  return TextMode(text);
}

std::string LogFile(const RunResult& run) { return MaskTimestamps(run.ReadFile(kLogFile)); }

std::vector<std::string> Progress(uint32_t length) {
  std::vector<std::string> lines;
  for (uint32_t done = 0; done < length;) {
    done += std::min<uint32_t>(4096, length - done);
    const uint32_t percent = static_cast<uint32_t>(uint64_t{done} * 100 / length);
    lines.push_back("info      : [" + std::string(percent / 2, '=') + std::string(50 - percent / 2, ' ') + "] " +
                    std::to_string(percent) + "/100\r");
  }
  lines.push_back("info      : \n");
  return lines;
}

void Append(std::vector<std::string>& a, const std::vector<std::string>& b) { a.insert(a.end(), b.begin(), b.end()); }

std::string ExpectedFlash(const std::string& image, uint32_t mask) {
  std::string flash;
  const uint32_t count = static_cast<uint8_t>(image[27]);
  size_t dataOffset = 256;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = 32 + 8 * i;
    const uint32_t type = static_cast<uint8_t>(image[entry]);
    const uint32_t length = BigEndian(image, entry + 1, 4);
    const uint32_t address = BigEndian(image, entry + 5, 2) * 256;
    if ((mask >> (type % 32)) & 1) {
      if (flash.size() < address + length) flash.resize(address + length, '\xFF');
      flash.replace(address, length, image, dataOffset, length);
    }
    dataOffset += length;
  }
  return flash;
}

}  // namespace tessaro::e2e
