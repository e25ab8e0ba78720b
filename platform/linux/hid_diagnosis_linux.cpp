#include "platform/linux/hid_diagnosis_linux.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/hex.h"
#include "platform/hid_diagnosis_system.h"
#include "transport/connection.h"
#include "transport/report_descriptor.h"

namespace tessaro {
namespace {

std::string NodeOf(const HidInterface& interface) {
  std::string path;
  for (const wchar_t c : interface.path) path.push_back(static_cast<char>(c & 0xFF));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DevPathOf(const HidInterface& interface) {
  std::string path;
  for (const wchar_t c : interface.path) path.push_back(static_cast<char>(c & 0xFF));
  return path;
}

bool ReadText(const std::string& path, std::string& text, size_t limitBytes = 64 * 1024) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  text.assign(limitBytes, '\0');
  file.read(&text[0], static_cast<std::streamsize>(limitBytes));
  text.resize(static_cast<size_t>(file.gcount()));
  return true;
}

std::string Hex4(uint32_t value) { return HexNumber(value & 0xFFFF, 4); }

std::string BusName(uint32_t bus) {
  switch (bus) {
    case 0x03: return "USB";
    case 0x05: return "Bluetooth";
    case 0x06: return "virtual";
    case 0x18: return "I2C";
    default: return "0x" + Hex4(bus);
  }
}

std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : "-";
  const char* letters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) text.push_back((mode & (0400 >> bit)) != 0 ? letters[bit] : '-');
  return text;
}

// The group and user databases as files: the static program has no name
// service switch to ask.
struct GroupEntry {
  std::string name;
  std::vector<std::string> members;
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t colon = line.find(':', start);
    fields.push_back(line.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) return fields;
    start = colon + 1;
  }
}

bool FindGroup(const std::string& rootFs, gid_t gid, GroupEntry& out) {
  std::string text;
  if (!ReadText(rootFs + "/etc/group", text, 4 * 1024 * 1024)) return false;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::vector<std::string> fields = Fields(line);
    if (fields.size() < 4 || fields[2] != std::to_string(gid)) continue;
    out.name = fields[0];
    std::istringstream members(fields[3]);
    std::string member;
    while (std::getline(members, member, ',')) {
      if (!member.empty()) out.members.push_back(member);
    }
    return true;
  }
  return false;
}

// The user's name and primary group from the passwd file.
bool FindUser(const std::string& rootFs, uid_t uid, std::string& name, std::string& primaryGid) {
  std::string text;
  if (!ReadText(rootFs + "/etc/passwd", text, 4 * 1024 * 1024)) return false;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::vector<std::string> fields = Fields(line);
    if (fields.size() < 4 || fields[2] != std::to_string(uid)) continue;
    name = fields[0];
    primaryGid = fields[3];
    return true;
  }
  return false;
}

bool ProcessInGroup(gid_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int got = ::getgroups(count, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether the group database lists the user in the group, which a running
// session only learns at the next login.
bool UserListedInGroup(const std::string& rootFs, gid_t gid, const GroupEntry& group) {
  std::string user;
  std::string primaryGid;
  if (!FindUser(rootFs, ::geteuid(), user, primaryGid)) return false;
  if (primaryGid == std::to_string(gid)) return true;
  return std::find(group.members.begin(), group.members.end(), user) != group.members.end();
}

std::string ErrnoText(uint32_t error) {
  return "errno " + std::to_string(error) + " (" + std::strerror(static_cast<int>(error)) + ")";
}

}  // namespace

bool KernelOlderThan511(const std::string& release) {
  unsigned major = 0;
  unsigned minor = 0;
  if (std::sscanf(release.c_str(), "%u.%u", &major, &minor) != 2) return false;
  return major < 5 || (major == 5 && minor < 11);
}

HidrawDiagnosis::HidrawDiagnosis(std::string sysfsRoot, std::string rootFs)
    : sysfsRoot_(std::move(sysfsRoot)), rootFs_(std::move(rootFs)) {}

InterfaceFacts HidrawDiagnosis::Describe(const HidInterface& interface) {
  InterfaceFacts facts;
  const std::string dir = sysfsRoot_ + "/class/hidraw/" + NodeOf(interface) + "/device";
  std::string uevent;
  if (ReadText(dir + "/uevent", uevent)) {
    std::istringstream lines(uevent);
    std::string line;
    while (std::getline(lines, line)) {
      unsigned bus = 0;
      unsigned vendor = 0;
      unsigned product = 0;
      if (std::sscanf(line.c_str(), "HID_ID=%x:%x:%x", &bus, &vendor, &product) == 3) {
        facts.bus = BusName(bus);
        facts.haveIds = true;
        facts.vendorId = static_cast<uint16_t>(vendor);
        facts.productId = static_cast<uint16_t>(product);
      }
    }
  }
  std::string descriptor;
  std::vector<TopLevelCollection> collections;
  if (ReadText(dir + "/report_descriptor", descriptor) &&
      ParseTopLevelCollections(reinterpret_cast<const uint8_t*>(descriptor.data()), descriptor.size(), collections) &&
      interface.collection < collections.size()) {
    facts.haveUsages = true;
    facts.usagePage = collections[interface.collection].usagePage;
    facts.usage = collections[interface.collection].usage;
  }
  return facts;
}

bool HidrawDiagnosis::RuleInstalled(uint16_t vendorId) const {
  // The rule matches the vendor in the HID device's kernel name.
  const std::string needle = ":" + Hex4(vendorId) + ":";
  for (const char* folder : {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"}) {
    const std::string dir = rootFs_ + folder;
    DIR* listing = ::opendir(dir.c_str());
    if (listing == nullptr) continue;
    bool found = false;
    while (const dirent* entry = ::readdir(listing)) {
      const std::string name = entry->d_name;
      if (name.size() < 6 || name.compare(name.size() - 6, 6, ".rules") != 0) continue;
      std::string text;
      if (!ReadText(dir + "/" + name, text, 1024 * 1024)) continue;
      std::string upper = text;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (upper.find("HIDRAW") != std::string::npos && upper.find(needle) != std::string::npos) found = true;
    }
    ::closedir(listing);
    if (found) return true;
  }
  return false;
}

OpenProblem HidrawDiagnosis::ExplainOpenFailure(const HidInterface& interface, const InterfaceFacts& facts,
                                                      uint32_t error) {
  OpenProblem problem;
  problem.error = ErrnoText(error);
  const std::string node = DevPathOf(interface);
  const bool ours = facts.haveIds && facts.vendorId == kVendorId;
  if (error == EACCES || error == EPERM) {
    if (facts.haveIds && !ours) {
      problem.hint = "another vendor's device, closed to this user; tessaro passes over it, nothing to fix";
      return problem;
    }
    struct stat status = {};
    const bool haveStatus = ::stat(node.c_str(), &status) == 0;
    GroupEntry groupEntry;
    const bool groupKnown = haveStatus && FindGroup(rootFs_, status.st_gid, groupEntry);
    const std::string group = !haveStatus ? "?" : groupKnown ? groupEntry.name : std::to_string(status.st_gid);
    const std::string mode = haveStatus ? ModeText(status.st_mode) : "?";
    const std::string where = node + " is " + mode + ", group " + group;
    const bool groupCanUse = haveStatus && (status.st_mode & 060) == 060 && status.st_gid != 0;
    if (!RuleInstalled(kVendorId)) {
      problem.hint = where + "; no udev rule for vendor " + Hex4(kVendorId) +
                     " is installed: copy 70-tessaro.rules to /etc/udev/rules.d, run 'udevadm control --reload' and "
                     "'udevadm trigger --subsystem-match=hidraw', and add yourself to group plugdev";
    } else if (!groupCanUse) {
      problem.hint = where + "; the udev rule for vendor " + Hex4(kVendorId) +
                     " is installed but not applied to this node: run 'udevadm control --reload' and "
                     "'udevadm trigger --subsystem-match=hidraw'";
    } else if (!ProcessInGroup(status.st_gid) && UserListedInGroup(rootFs_, status.st_gid, groupEntry)) {
      problem.hint = where + "; you are in group " + group +
                     " but this session is not (added since you logged in): log out and in again, or run "
                     "'newgrp " + group + "'";
    } else if (!ProcessInGroup(status.st_gid)) {
      problem.hint = where + "; you are not in group " + group + ": run 'sudo usermod -aG " + group +
                     " $USER', then log in again";
    } else {
      problem.hint = where + "; access denied although your group may use it: a security module may refuse it";
    }
  } else if (error == ENOENT) {
    problem.hint = "the kernel lists the node but " + node + " does not exist: udev has not created it";
  } else if (error == EBUSY) {
    problem.hint = "another program holds the device";
  } else if (error == ENODEV || error == ENXIO) {
    problem.hint = "the device went away during the walk";
  }
  return problem;
}

std::vector<std::string> HidrawDiagnosis::HostNotes() {
  std::vector<std::string> notes;
  utsname name = {};
  if (::uname(&name) == 0 && KernelOlderThan511(name.release)) {
    notes.push_back(std::string("kernel ") + name.release +
                    " is older than 5.11: hidraw lacks the report ioctls, every report fails with error:0x19");
  }
  struct stat status = {};
  if (::stat((sysfsRoot_ + "/class/hidraw").c_str(), &status) != 0) {
    notes.push_back("no hidraw class in " + sysfsRoot_ + ": the kernel lacks hidraw (CONFIG_HIDRAW)");
  }
  return notes;
}

std::unique_ptr<HidDiagnosis> MakeSystemHidDiagnosis() { return std::make_unique<HidrawDiagnosis>(); }

}  // namespace tessaro
