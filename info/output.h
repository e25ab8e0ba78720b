#pragma once
// The companion's text and JSON shapes: every command prints through here,
// so that a fact reads the same in each command's text and in its JSON.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "info/controller.h"
#include "info/file_checks.h"
#include "info/fw_table.h"
#include "info/survey.h"
#include "transport/connection.h"

namespace tessaro::info {

using Json = nlohmann::ordered_json;

// "0x" and the upper-case digits, at least `digits` of them.
std::string Hex(uint32_t value, int digits);
// The VID's four bytes in lower-case hex, separator between them.
std::string VidText(const uint8_t* vid, const char* separator = " ");
std::string CfgVersionText(uint8_t version);
std::string Joined(const std::vector<std::string>& lines, const char* separator);
// Text from a file or a controller as the terminal may show it: control
// bytes (which could move the cursor, clear the screen or retitle the
// window) as \xHH, the rest unchanged. JSON escapes them by itself.
std::string Printable(const std::string& text);

// The format of every JSON object the companion prints (schema/*.schema.json);
// it changes when a key changes meaning or goes away.
constexpr int kJsonSchema = 1;

// The object with "schema" as its first key. Bytes from a controller or a
// file need not be UTF-8: such text is kept, its bad bytes replaced, rather
// than ending the run.
void PrintJson(const Json& json);

Json ChecksJson(const std::vector<Check>& checks);
void PrintChecks(const std::vector<Check>& checks);

Json FileJson(const std::string& name, const FileFacts& file);
void PrintFile(const std::string& name, const FileFacts& file);

Json TableJson(const FwTable& table);
void PrintTable(const FwTable& table);

Json SurveyJson(const Survey& survey);
void PrintSurvey(const Survey& survey);
// The matching collections: the keys "device" (the path --device chose, or
// null) and "matches" put into `json` (the one taken is the "controller"
// object's path); as text, the one taken marked, lines only when more than one collection matches or a
// device was chosen, so that a host of one controller reads as before.
void PutMatches(Json& json, const std::string& chosen, const std::vector<std::string>& matches);
std::string MatchesText(const std::string& chosen, const std::vector<std::string>& matches, const std::string& taken);

Json ControllerJson(const CConnectionTLC& connection, const ControllerFacts& facts, bool withVersion, bool withHead);
std::string ControllerText(const CConnectionTLC& connection, const ControllerFacts& facts, bool withVersion,
                           bool withHead);

// What a walk that took no controller means for a tessaro run.
extern const char* const kRetryNote;
extern const char* const kBusyNote;
// The note of a walk that found nothing at the chosen path.
std::string NoDeviceNote(const std::string& chosen);
// What tessaro says when another process holds the controller.
std::string BusyLine(const SurveyEntry& entry);

}  // namespace tessaro::info
