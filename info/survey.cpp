#include "info/survey.h"

#include "transport/registers.h"

namespace tessaro::info {

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
    entry.matches = entry.facts.haveUsages && entry.facts.usagePage == reg::kUsagePage &&
                    entry.facts.usage == reg::kUsage && vendorKnown &&
                    entry.facts.vendorId == kVendorId;
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
