#include "info/survey.h"

#include "transport/registers.h"

namespace tessaro::info {

std::string Utf8(const std::wstring& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    // UTF-16 on Windows (surrogate pairs), UTF-32 elsewhere.
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      const uint32_t low = static_cast<uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

Survey RunSurvey(HidDiagnosis& diagnosis, CConnectionTLC& connection) {
  Survey survey;
  survey.hostNotes = diagnosis.HostNotes();
  HidBackend& hid = TheHid();
  const std::unique_ptr<HidWalk> walk = hid.BeginWalk();
  HidInterface interface;
  while (walk->Next(interface)) {
    SurveyEntry entry;
    entry.path = Utf8(interface.path);
    entry.collection = interface.collection;
    entry.facts = diagnosis.Describe(interface);

    HidHandle handle = kInvalidHidHandle;
    // The same test the connection applies to a handle it is given.
    entry.opened = hid.Open(interface, handle) && handle != 0 && handle != kInvalidHidHandle;
    bool usable = false;
    bool vendorKnown = entry.facts.haveIds;
    if (!entry.opened) {
      entry.openError = hid.LastError();
      entry.problem = diagnosis.ExplainOpenFailure(interface, entry.facts, entry.openError);
    } else {
      // What the connection's walk reads decides the match, as it does there.
      uint16_t usagePage = 0;
      uint16_t usage = 0;
      uint16_t vendorId = 0;
      const bool haveCaps = hid.GetCaps(handle, usagePage, usage);
      const bool haveVendor = haveCaps && hid.GetVendorId(handle, vendorId);
      if (haveCaps) {
        entry.facts.haveUsages = true;
        entry.facts.usagePage = usagePage;
        entry.facts.usage = usage;
      }
      if (haveVendor) {
        entry.facts.vendorId = vendorId;
        vendorKnown = true;
      }
      usable = haveCaps && haveVendor;
    }
    const bool usagesMatch =
        entry.facts.haveUsages && entry.facts.usagePage == reg::kUsagePage && entry.facts.usage == reg::kUsage;
    entry.matches = usagesMatch && vendorKnown && entry.facts.vendorId == kVendorId;
    entry.otherVendor = usagesMatch && vendorKnown && entry.facts.vendorId != kVendorId;
    bool keep = false;
    if (entry.matches && usable && survey.taken < 0 && survey.busy < 0) {
      // The connection's own rule: the first match is the controller, and
      // held by another process it is not ours to talk to.
      const HidClaim claim = hid.Claim(interface, handle);
      if (claim.outcome == HidClaim::Outcome::kBusy) {
        entry.busy = true;
        entry.holderPid = claim.holderPid;
        survey.busy = static_cast<int>(survey.entries.size());
      } else {
        keep = true;
        entry.taken = true;
        survey.taken = static_cast<int>(survey.entries.size());
        connection.deviceHandle = handle;
        connection.opened = 1;
      }
    }
    if (entry.opened && !keep) hid.Close(handle);
    survey.entries.push_back(std::move(entry));
  }
  return survey;
}

}  // namespace tessaro::info
