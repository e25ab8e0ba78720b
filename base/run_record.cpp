#include "base/run_record.h"

#include <cstring>

namespace tessaro {
namespace {

RunFacts* activeFacts = nullptr;
Sha256Function activeHash = nullptr;

// The first read is the state before the job; every later one, after.
template <typename Facts>
Facts& NextOf(Facts& before, Facts& after) {
  return before.known ? after : before;
}

}  // namespace

void ActivateRunFacts(RunFacts* facts, Sha256Function hash) {
  activeFacts = facts;
  activeHash = hash;
}

void NoteOpened(const std::string& path) {
  if (activeFacts == nullptr || activeFacts->opened) return;
  activeFacts->opened = true;
  activeFacts->controllerPath = path;
}

void NoteVersionBlock(const char* pid, const uint8_t* vid, uint8_t sensorId) {
  if (activeFacts == nullptr) return;
  VersionFacts& facts = NextOf(activeFacts->versionBefore, activeFacts->versionAfter);
  facts.known = true;
  std::memcpy(facts.pid, pid, 4);
  std::memcpy(facts.vid, vid, 4);
  facts.sensorId = sensorId;
}

void NoteConfigHead(const uint8_t* head) {
  if (activeFacts == nullptr) return;
  HeadFacts& facts = NextOf(activeFacts->headBefore, activeFacts->headAfter);
  facts.known = true;
  std::memcpy(facts.bytes, head, 3);
}

void NoteFileRead(const uint8_t* data, size_t lengthBytes) {
  if (activeFacts == nullptr) return;
  activeFacts->fileRead = true;
  activeFacts->fileBytes = lengthBytes;
  activeFacts->fileSha256 = activeHash != nullptr ? activeHash(data, lengthBytes) : std::string();
}

void NoteFirmwareImage(const char* pid, const uint8_t* vid) {
  if (activeFacts == nullptr) return;
  activeFacts->firmwareImage = true;
  std::memcpy(activeFacts->imagePid, pid, 8);
  std::memcpy(activeFacts->imageVid, vid, 4);
}

void NoteConfigImage(uint8_t version) {
  if (activeFacts == nullptr) return;
  activeFacts->configImage = true;
  activeFacts->imageCfgVersion = version;
}

void NoteOutcome(RunOutcome outcome) {
  if (activeFacts != nullptr) activeFacts->outcome = outcome;
}

void NoteMessage(const char* text) {
  if (activeFacts == nullptr) return;
  size_t length = std::strlen(text);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  // A progress line's lone "info      : " ends a bar and says nothing.
  if (length == 0 || std::strncmp(text, "info      : ", length) == 0) return;
  activeFacts->lastMessage.assign(text, length);
  if (std::strncmp(text, "error     : ", 12) == 0) activeFacts->lastError.assign(text, length);
}

}  // namespace tessaro
