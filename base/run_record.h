#pragma once
// What a run learnt on its way, for the result file that TESSARO_RESULT asks
// for: the controller's properties, the file and image, the last messages
// and how the job ended. The jobs and the log note facts through the
// functions below; they do nothing unless the entry point has made a record
// active, so that a run without the variable pays one pointer test.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessaro {

// How a job ended, where the result alone cannot tell (several codes mean
// more than one thing). The rest is worked out from the facts at the end.
enum class RunOutcome {
  kUndecided,
  kNotNeededOtherPid,
  kNotNeededSameVid,
  kNotNeededVersion,
  kRefusedFile,
  kBusy,
};

struct VersionFacts {
  bool known = false;
  char pid[5] = {};
  uint8_t vid[4] = {};
  uint8_t sensorId = 0;
};

struct HeadFacts {
  bool known = false;
  uint8_t bytes[3] = {};
};

struct RunFacts {
  bool opened = false;
  std::string controllerPath;  // UTF-8, the first collection opened
  // The VERSION block: the first read, then the last read after it.
  VersionFacts versionBefore;
  VersionFacts versionAfter;
  // The configuration head, likewise; only reads that succeeded count.
  HeadFacts headBefore;
  HeadFacts headAfter;
  // The file as read whole, before any check of its content.
  bool fileRead = false;
  uint64_t fileBytes = 0;
  std::string fileSha256;
  // What a loaded image says of itself.
  bool firmwareImage = false;
  char imagePid[9] = {};
  uint8_t imageVid[4] = {};
  bool configImage = false;
  uint8_t imageCfgVersion = 0;
  RunOutcome outcome = RunOutcome::kUndecided;
  // Log texts without their line ends.
  std::string lastMessage;
  std::string lastError;
};

using Sha256Function = std::string (*)(const uint8_t* data, size_t lengthBytes);

// The record being filled, or nullptr. The entry point owns it; the hash of
// a file is taken with `hash` as the bytes are read, so that no copy of an
// image is kept.
void ActivateRunFacts(RunFacts* facts, Sha256Function hash);

void NoteOpened(const std::string& path);
void NoteVersionBlock(const char* pid, const uint8_t* vid, uint8_t sensorId);
void NoteConfigHead(const uint8_t* head);
void NoteFileRead(const uint8_t* data, size_t lengthBytes);
void NoteFirmwareImage(const char* pid, const uint8_t* vid);
void NoteConfigImage(uint8_t version);
void NoteOutcome(RunOutcome outcome);
void NoteMessage(const char* text);

}  // namespace tessaro
