#pragma once
// What the update jobs decide before they change anything in the controller,
// as pieces of their own, so that a dry run (tessaro-info plan) reaches the
// job's verdict through the job's code and with the job's lines.
#include <cstdint>

#include "images/cfg_image.h"
#include "images/fw_image.h"
#include "transport/connection.h"
#include "update/subfw_kinds.h"

namespace tessaro {

enum class FwCondition { kUpdate, kOtherPid, kSameVid };
// The firmware job's update conditions, with its lines: another PID or the
// same VID means no update. Always kUpdate with ignoreVersion.
FwCondition CheckFwConditions(const CConnectionTLC& connection, const FwImage& image, bool ignoreVersion);

// Whether the table and every entry's data lie inside the image and every
// selected entry's flash range fits the 24 address bits of a load-flash
// command. Logs the reason when not.
bool SubTableFits(const FwImage& image, uint32_t subTypeFlag);

// Whether the mask would write every needed kind the image holds (KV30, Q5,
// the short test code); logs the line of the first one missing, as a failed
// attempt does. The table has been checked.
bool NeededKindsSelected(const FwImage& image, uint32_t subTypeFlag);

// Whether the configuration fits between 0x8050 and the last register
// address; logs the refusal.
bool CfgFitsRegisterSpace(const CfgImage& image);

// The configuration head (version and two bytes) sums to 0 when intact.
bool CfgHeadIntact(const uint8_t* head);
// The configuration job's version rule, with its refusal line: an update
// when ignoreVersion, or when the controller's version is below the file's.
bool CfgUpdateNeeded(uint8_t chipVersion, const CfgImage& image, bool ignoreVersion);

}  // namespace tessaro
