#pragma once
// The simulated touch controller: it takes the host's 65-byte output reports,
// answers register reads with input reports, and keeps its modes, chunk
// buffer, flash and configuration handshake as the register interface says.
//
// It knows nothing of any HID stack or operating system, so that any host
// side can drive it: the simulated HID backend of tessaro-sim in-process, or a
// device program behind a kernel's virtual HID device.
//
// Its model of the protocol is its own, on purpose: it shares with the
// product only the register map (transport/registers.h) and the trace
// format, none of the product's frames, loaders or jobs, so that a fault in
// the product's reading of the protocol shows as a disagreement with the
// simulator instead of being repeated on both sides. Keep it that way.
//
// Every report that crosses, and everything the controller finds against its
// protocol, goes to the trace sink as one line ("out HEX", "out-failed HEX",
// "in HEX", "in-failed", "violation TEXT"). A report against the protocol is
// otherwise ignored, as a real controller would ignore it.
//
// Choices where the register interface leaves the controller's inner working
// open:
// - A register read is answered from the register map as it stands when the
//   read request arrives; that request also counts as one read of every
//   acknowledgement register it covers.
// - A refused trigger is not carried out: 0x10 leaves the mode as it was,
//   0x12 writes nothing into flash (the chunk buffer is emptied all the
//   same), 0x80 0x00 0x80 opens no download, 0x83 closes the download and
//   drops the collected bytes.
// - A restart (0x13) clears all three acknowledgement registers and closes an
//   open configuration download.
// - A write outside the registers the tool uses is taken without effect, and
//   so are bytes written from 0x8050 on while no download is open.
// - Within one multi-report write, only its first offence is reported; the
//   rest of that write is then ignored without further lines.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/flash.h"
#include "sim/state.h"

namespace tessaro::sim {

constexpr size_t kReportBytes = 65;
using ReportBytes = uint8_t[kReportBytes];
using TraceSink = std::function<void(const std::string& line)>;

class Controller {
 public:
  // The controller works on `state` and `flash` (its identity, configuration
  // and what is left of each fault change as it runs); both must outlive it.
  Controller(State& state, Flash& flash, TraceSink trace);

  // One output report from the host. False when a fault makes it fail to
  // send; the controller has then not seen it.
  bool SendOutput(const ReportBytes& report);

  // One input report for the host; byte 0 holds the report ID asked for on
  // entry. False when the fetch fails (a fault, or another report ID).
  bool FetchInput(ReportBytes& report);

  Mode mode() const { return state_.mode; }

  // Whether the state (mode, identity, configuration, a fault's count)
  // changed since the last call: what has to be saved after an event.
  // Flash keeps its own record of what changed.
  void MarkStateChanged() { stateChanged_ = true; }
  bool TakeStateChanged() {
    const bool changed = stateChanged_;
    stateChanged_ = false;
    return changed;
  }

 private:
  struct AckRegister {
    uint8_t value = 0;
    bool armed = false;
    uint32_t readsNeeded = 0;
    uint32_t readsSeen = 0;
  };
  // The multi-report write in progress, if any.
  struct Transfer {
    bool open = false;     // the last chunk taken had the more-follows flag
    bool skipping = false;  // an offence was reported; the rest is ignored
    bool quiet = false;     // a register-level offence was reported already
    uint8_t nextChunk = 0;
    uint16_t nextAddress = 0;
    uint16_t startAddress = 0;
  };

  void Deliver(const ReportBytes& report);
  void OnRegisterAccess(const ReportBytes& report);
  void OnReadRequest(const ReportBytes& report);
  void OnWriteChunk(const ReportBytes& report);
  void OnModeCommand(const ReportBytes& report);
  void OnLoadFlash(const ReportBytes& report);
  void EndTransfer();

  void ApplyWrite(uint16_t address, const uint8_t* data, size_t count);
  void WriteHandshake(const uint8_t* data, size_t count);
  void WriteConfiguration(uint16_t address, const uint8_t* data, size_t count);
  void WriteChunkBuffer(uint16_t address, const uint8_t* data, size_t count);
  void Restart();
  void SetMode(Mode mode);

  bool Arm(AckRegister& target, Ack ack, uint8_t value);
  bool UseUp(Counter& counter) { return sim::UseUp(counter, stateChanged_); }
  template <typename Key>
  bool UseUp(std::map<Key, Counter>& counters, Key key) {
    const auto it = counters.find(key);
    return it != counters.end() && UseUp(it->second);
  }
  uint8_t ByteAt(uint16_t address) const;

  void Trace(const std::string& line) const;
  // A register-level offence: reported once per multi-report write.
  void Offence(const std::string& text);
  void Violation(const std::string& text) const;

  State& state_;
  Flash& flash_;
  TraceSink trace_;
  bool stateChanged_ = false;

  AckRegister patchState_;  // 0x5095
  bool switchSent_ = false;  // a switch to patch (0x10) reached it in this run
  AckRegister flashState_;  // 0x5096
  AckRegister configCtrl_;  // 0x8040

  std::vector<uint8_t> chunkBuffer_;
  bool downloadOpen_ = false;
  std::vector<uint8_t> download_;
  Transfer transfer_;

  // The reply to the last read request, ready for the host's fetch.
  bool replyPending_ = false;
  uint16_t replyAddress_ = 0;
  uint16_t replyLength_ = 0;
  std::vector<uint8_t> replyData_;
  ReportBytes lastReply_ = {};
};

// The load-flash checksum of a chunk: its bytes as big-endian 16-bit words,
// summed with wrap-around. For an odd length the last word's low byte is
// unknown to the controller and taken as 0 here.
uint16_t ChunkChecksum(const std::vector<uint8_t>& chunk);

}  // namespace tessaro::sim
