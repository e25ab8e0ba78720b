// tessaro-info's command line: the options read once, then a table of verbs
// picks the command, which lives in a file of its own.
#include "info/info_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "info/commands.h"
#include "info/output.h"

namespace tessaro::info {
namespace {

// The project's version in the build, as tessaro -v prints it.
constexpr const char* kVersionNumber = TESSARO_VERSION;

struct Verb {
  const char* name;      // the words that name it
  const char* operands;  // as the usage text shows them, "" for none
  bool takesMask;        // --flag
  bool takesIgnoreVer;   // --ignoreVer
  int (*run)(const InfoOptions& options, const std::string& file, HidDiagnosis& diagnosis);
};

// In the order the usage text lists them.
const Verb kVerbs[] = {
    {"devices", "", false, false, RunDevices},
    {"firmware", "FILE", true, false, RunFirmware},
    {"config", "FILE", false, false, RunConfig},
    {"plan firmware", "FILE", true, true, RunPlanFirmware},
    {"plan config", "FILE", false, true, RunPlanConfig},
};

std::string Usage() {
  std::string text;
  for (const Verb& verb : kVerbs) {
    text += text.empty() ? "usage: " : "       ";
    text += std::string("tessaro-info [options] ") + verb.name + (*verb.operands != '\0' ? " " : "") + verb.operands +
            "\n";
  }
  return text +
         "options:\n"
         "      --json       one JSON object instead of the text\n"
         "      --flag       N: the sub-firmware mask of the firmware commands, as tessaro's --flag,\n"
         "                   decimal or 0x-hexadecimal (default " +
         std::to_string(kDefaultSubFwMask) + ", " + Hex(kDefaultSubFwMask, 1) +
         ")\n"
         "  -i, --ignoreVer  plan as tessaro --ignoreVer would run\n"
         "      --device     PATH: the controller at this path, as devices prints it, as tessaro's\n"
         "                   TESSARO_DEVICE chooses it (default: the first match)\n"
         "  -v, --version    the version, as tessaro -v prints it\n"
         "  -?, --help       this text\n"
         "exit codes: 0 found and read / file accepted / would update; 1 would not update;\n"
         "2 file refused / would refuse; 3 no controller; 4 controller not readable; 5 controller busy;\n"
         "64 wrong command line\n";
}

// The words of a verb's name.
std::vector<std::string> NameWords(const Verb& verb) {
  std::vector<std::string> words;
  std::string name = verb.name;
  for (size_t start = 0; start <= name.size();) {
    const size_t space = name.find(' ', start);
    const size_t end = space == std::string::npos ? name.size() : space;
    words.push_back(name.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

// Whether the command line's words begin with the verb's name.
bool Names(const Verb& verb, const std::vector<std::string>& words) {
  const std::vector<std::string> name = NameWords(verb);
  if (words.size() < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (words[i] != name[i]) return false;
  }
  return true;
}

bool ParseMask(const std::string& text, uint32_t& mask) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) {
    const unsigned long long value = std::strtoull(text.c_str() + 2, &end, 16);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull || text[2] == '-' || text[2] == '+') return false;
    mask = static_cast<uint32_t>(value);
    return true;
  }
  // tessaro takes a signed 32-bit decimal and uses its bits.
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX || text[0] == '+' || text[0] == ' ') {
    return false;
  }
  mask = static_cast<uint32_t>(static_cast<int32_t>(value));
  return true;
}

InfoOptions ParseCommandLine(int argc, char** argv) {
  InfoOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--help" || arg == "-?" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version" || arg == "-v") {
      options.version = true;
    } else if (arg == "--ignoreVer" || arg == "-i") {
      options.ignoreVersion = true;
    } else if (arg == "--flag" || arg.rfind("--flag=", 0) == 0) {
      std::string value;
      if (arg == "--flag") {
        if (i + 1 >= argc) {
          options.error = "--flag needs a value";
          return options;
        }
        value = argv[++i];
      } else {
        value = arg.substr(7);
      }
      if (!ParseMask(value, options.mask)) {
        options.error = "--flag: not a 32-bit number: " + value;
        return options;
      }
      options.maskGiven = true;
    } else if (arg == "--device" || arg.rfind("--device=", 0) == 0) {
      if (arg == "--device" && i + 1 >= argc) {
        options.error = "--device needs a path";
        return options;
      }
      // Empty, as an empty TESSARO_DEVICE: the first match.
      options.device = arg == "--device" ? argv[++i] : arg.substr(9);
    } else if (arg.size() > 1 && arg[0] == '-') {
      options.error = "unknown option: " + arg;
      return options;
    } else {
      options.words.push_back(arg);
    }
  }
  return options;
}

// With --json anywhere on the command line, the error is also one JSON
// object on standard output, so that a script that parses it learns why.
int UsageError(const std::string& error, bool json) {
  std::fprintf(stderr, "tessaro-info: %s\n%s", error.c_str(), Usage().c_str());
  if (json) PrintJson({{"error", error}, {"exitCode", kExitUsage}});
  return kExitUsage;
}

bool AsksForJson(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--json") return true;
  }
  return false;
}

}  // namespace

int RunInfo(int argc, char** argv, HidDiagnosis& diagnosis) {
  const InfoOptions options = ParseCommandLine(argc, argv);
  // As tessaro: the usage text on standard error, and 0.
  if (options.help) {
    std::fprintf(stderr, "%s", Usage().c_str());
    return kExitOk;
  }
  const bool json = AsksForJson(argc, argv);
  if (!options.error.empty()) return UsageError(options.error, json);
  if (options.version) {
    std::printf("%s\n", kVersionNumber);
    return kExitOk;
  }
  ChooseDevice(options.device);
  const std::vector<std::string>& words = options.words;
  if (words.empty()) return UsageError("no command", json);

  // An option belongs to the verbs that take it: --flag to those whose name
  // the words begin with, --ignoreVer to those whose first word they share.
  bool maskTaken = false;
  bool ignoreVerTaken = false;
  for (const Verb& verb : kVerbs) {
    maskTaken = maskTaken || (verb.takesMask && Names(verb, words));
    ignoreVerTaken = ignoreVerTaken || (verb.takesIgnoreVer && NameWords(verb)[0] == words[0]);
  }
  if (options.maskGiven && !maskTaken) return UsageError("--flag belongs to firmware commands", json);
  if (options.ignoreVersion && !ignoreVerTaken) return UsageError("--ignoreVer belongs to plan", json);

  for (const Verb& verb : kVerbs) {
    const size_t operands = *verb.operands != '\0' ? 1 : 0;
    if (Names(verb, words) && words.size() == NameWords(verb).size() + operands) {
      return verb.run(options, operands != 0 ? words.back() : std::string(), diagnosis);
    }
  }
  return UsageError("unknown command or wrong number of arguments: " + Joined(words, " "), json);
}

}  // namespace tessaro::info
