// The simulated controller as a HID-over-I2C device of a real kernel, through
// /dev/uhid: the same controller model that tessaro-sim runs in-process, so
// that tessaro over hidraw and tessaro-sim can be held side by side.
//
//   tessaro-uhid-controller [TRACE] [--recreate-at-restart | --stall-after-switch]
//
// The device shows a touch screen's digitizer collection (0x000D/0x0004)
// before the vendor collection (0xFFF0/0x0001, report ID 0x0E, 64-byte input
// and output reports), with the build's vendor ID on bus I2C. The state comes
// from tessaro-sim.json and tessaro-sim.flash in the current directory when
// they are there, else the factory defaults; it lives in memory for the
// program's life and is never written back. Keys that shape the device
// (present, otherCollections, matchingCollections) do not apply: the device is
// the one described above. TRACE gets the controller's
// "out", "in" and "violation" lines. The program runs until it is killed;
// the kernel removes the device when /dev/uhid closes.
//
// --recreate-at-restart: the restart command (0x13) destroys the device and
// creates it again, as a host may re-create a controller's collection after
// its reset; the kernel gives the new device a new hidraw node.
// --stall-after-switch: from the switch-to-patch command (0x10) on, no input
// report is answered, as from a controller that stopped answering in the
// middle of an update; the kernel fails each fetch after its own bound.
#include <fcntl.h>
#include <linux/uhid.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/controller.h"
#include "sim/flash.h"
#include "sim/state.h"
#include "sim/state_files.h"
#include "transport/connection.h"

namespace {

using tessaro::sim::Controller;
using tessaro::sim::kReportBytes;
using tessaro::sim::ReportBytes;

constexpr uint16_t kBusI2c = 0x18;
constexpr uint32_t kProductId = 0x0001;
constexpr uint8_t kReportId = 0x0E;

const uint8_t kDescriptor[] = {
    // The touch screen: one finger's tip switch, report ID 1.
    0x05, 0x0D,        // Usage Page (Digitizer)
    0x09, 0x04,        // Usage (Touch Screen)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x01,        //   Report ID 1
    0x09, 0x22,        //   Usage (Finger)
    0xA1, 0x02,        //   Collection (Logical)
    0x09, 0x42,        //     Usage (Tip Switch)
    0x15, 0x00,        //     Logical Minimum 0
    0x25, 0x01,        //     Logical Maximum 1
    0x75, 0x01,        //     Report Size 1
    0x95, 0x01,        //     Report Count 1
    0x81, 0x02,        //     Input (Data, Variable, Absolute)
    0x95, 0x07,        //     Report Count 7
    0x81, 0x03,        //     Input (Constant): padding
    0xC0,              //   End Collection
    0xC0,              // End Collection
    // The controller's register channel.
    0x06, 0xF0, 0xFF,  // Usage Page (0xFFF0)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x85, kReportId,   //   Report ID 0x0E
    0x15, 0x00,        //   Logical Minimum 0
    0x26, 0xFF, 0x00,  //   Logical Maximum 255
    0x75, 0x08,        //   Report Size 8
    0x95, 0x40,        //   Report Count 64
    0x09, 0x01,        //   Usage (1)
    0x91, 0x02,        //   Output (Data, Variable, Absolute)
    0x09, 0x01,        //   Usage (1)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0xC0,              // End Collection
};

bool WriteEvent(int fd, const uhid_event& event) {
  for (;;) {
    const ssize_t written = ::write(fd, &event, sizeof event);
    if (written == static_cast<ssize_t>(sizeof event)) return true;
    if (written < 0 && errno == EINTR) continue;
    std::fprintf(stderr, "uhid: write: %s\n", written < 0 ? std::strerror(errno) : "short");
    return false;
  }
}

bool CreateDevice(int fd, uint16_t vendorId) {
  uhid_event event{};
  event.type = UHID_CREATE2;
  uhid_create2_req& create = event.u.create2;
  std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "tessaro simulated controller");
  std::snprintf(reinterpret_cast<char*>(create.phys), sizeof create.phys, "i2c-tessaro");
  create.rd_size = sizeof kDescriptor;
  create.bus = kBusI2c;
  create.vendor = vendorId;
  create.product = kProductId;
  create.version = 0x0100;
  std::memcpy(create.rd_data, kDescriptor, sizeof kDescriptor);
  return WriteEvent(fd, event);
}

// UHID_OUTPUT: the kernel's output route, which HIDIOCSOUTPUT takes; data[0]
// is the report ID. Nothing is answered.
void OnOutput(Controller& controller, const uhid_output_req& output) {
  ReportBytes report = {};
  const size_t size = output.size < kReportBytes ? output.size : kReportBytes;
  std::memcpy(report, output.data, size);
  controller.SendOutput(report);
}

// UHID_GET_REPORT: HIDIOCGINPUT waits for this reply; its data[0] is the
// report ID and the payload follows. A fetch the controller refuses (a fault,
// another report ID) is answered with an error, which the host sees as EIO.
bool OnGetReport(int fd, Controller& controller, const uhid_get_report_req& request) {
  uhid_event reply{};
  reply.type = UHID_GET_REPORT_REPLY;
  reply.u.get_report_reply.id = request.id;
  ReportBytes report = {};
  report[0] = request.rnum;
  if (request.rtype == UHID_INPUT_REPORT && controller.FetchInput(report)) {
    reply.u.get_report_reply.err = 0;
    reply.u.get_report_reply.size = kReportBytes;
    std::memcpy(reply.u.get_report_reply.data, report, kReportBytes);
  } else {
    reply.u.get_report_reply.err = EIO;
  }
  return WriteEvent(fd, reply);
}

bool OnSetReport(int fd, const uhid_set_report_req& request) {
  uhid_event reply{};
  reply.type = UHID_SET_REPORT_REPLY;
  reply.u.set_report_reply.id = request.id;
  reply.u.set_report_reply.err = EIO;  // the controller takes output reports only
  return WriteEvent(fd, reply);
}

}  // namespace

int main(int argc, char** argv) {
  std::FILE* trace = nullptr;
  bool recreateAtRestart = false;
  bool stallAfterSwitch = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--recreate-at-restart") {
      recreateAtRestart = true;
    } else if (arg == "--stall-after-switch") {
      stallAfterSwitch = true;
    } else if (trace == nullptr) {
      trace = std::fopen(argv[i], "w");
      if (trace == nullptr) {
        std::fprintf(stderr, "uhid: %s: %s\n", argv[i], std::strerror(errno));
        return 2;
      }
    }
  }
  bool stalled = false;
  tessaro::sim::State state = tessaro::sim::FactoryState(tessaro::kVendorId);
  tessaro::sim::Flash flash;
  std::string error;
  if (!tessaro::sim::LoadStateFiles(state, flash, error)) {
    std::fprintf(stderr, "uhid: %s\n", error.c_str());
    return 2;
  }
  Controller controller(state, flash, [trace](const std::string& line) {
    if (trace == nullptr) return;
    std::fprintf(trace, "%s\n", line.c_str());
    std::fflush(trace);
  });

  // The kernel queues at most 32 events for a uhid device and drops output
  // reports beyond that while the sender is told they were delivered. A real
  // controller on I2C takes each report before the next; so must this
  // program, even on one CPU: it runs before any ordinary process that is
  // ready at the same time.
  sched_param priority{};
  priority.sched_priority = 10;
  if (::sched_setscheduler(0, SCHED_FIFO, &priority) != 0) {
    std::fprintf(stderr, "uhid: real-time priority refused (%s): output reports may be dropped\n",
                 std::strerror(errno));
  }

  const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "uhid: /dev/uhid: %s\n", std::strerror(errno));
    return 2;
  }
  if (!CreateDevice(fd, state.vendorId)) return 2;

  for (;;) {
    uhid_event event{};
    const ssize_t got = ::read(fd, &event, sizeof event);
    if (got < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "uhid: read: %s\n", std::strerror(errno));
      return 2;
    }
    switch (event.type) {
      case UHID_OUTPUT: {
        OnOutput(controller, event.u.output);
        const uint8_t command = event.u.output.size > 1 ? event.u.output.data[1] : 0;
        stalled = stalled || (stallAfterSwitch && command == 0x10);
        if (recreateAtRestart && command == 0x13) {
          uhid_event destroy{};
          destroy.type = UHID_DESTROY;
          if (!WriteEvent(fd, destroy) || !CreateDevice(fd, state.vendorId)) return 2;
        }
        break;
      }
      case UHID_GET_REPORT:
        if (stalled) break;  // never answered: the kernel gives up on it
        if (!OnGetReport(fd, controller, event.u.get_report)) return 2;
        break;
      case UHID_SET_REPORT:
        if (!OnSetReport(fd, event.u.set_report)) return 2;
        break;
      default:  // start, stop, open, close: nothing to do
        break;
    }
  }
}
