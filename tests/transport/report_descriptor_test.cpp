#include "transport/report_descriptor.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace tessaro {
namespace {

using Bytes = std::vector<uint8_t>;
using Collections = std::vector<std::pair<uint16_t, uint16_t>>;

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The parse of exactly these bytes: the buffer is a heap block of the exact
// length, so that a read past its end shows under AddressSanitizer.
bool Parse(const Bytes& descriptor, Collections& got) {
  std::vector<uint8_t> exact(descriptor.begin(), descriptor.end());
  std::vector<TopLevelCollection> out;
  const bool ok = ParseTopLevelCollections(exact.empty() ? nullptr : exact.data(), exact.size(), out);
  got.clear();
  for (const TopLevelCollection& c : out) got.emplace_back(c.usagePage, c.usage);
  return ok;
}

// A touch controller on I2C as hosts see them: a touch screen with a finger
// collection nested twice, a device-configuration collection, then the
// vendor collection of 64-byte reports with ID 0x0E.
const Bytes kTouchScreen = {
    0x05, 0x0D,              // Usage Page (Digitizer)
    0x09, 0x04,              // Usage (Touch Screen)
    0xA1, 0x01,              // Collection (Application)
    0x85, 0x01,              //   Report ID 1
    0x09, 0x22,              //   Usage (Finger)
    0xA1, 0x02,              //   Collection (Logical)
    0x09, 0x42,              //     Usage (Tip Switch)
    0x15, 0x00, 0x25, 0x01,  //     Logical Minimum 0, Maximum 1
    0x75, 0x01, 0x95, 0x01,  //     Report Size 1, Count 1
    0x81, 0x02,              //     Input
    0x95, 0x07, 0x81, 0x03,  //     padding
    0x05, 0x01,              //     Usage Page (Generic Desktop)
    0x09, 0x30,              //     Usage (X)
    0x26, 0xFF, 0x0F,        //     Logical Maximum 4095 (2 bytes)
    0x75, 0x10, 0x95, 0x01,  //     Report Size 16, Count 1
    0x81, 0x02,              //     Input
    0xC0,                    //   End Collection
    0x05, 0x0D,              //   Usage Page (Digitizer)
    0x09, 0x54,              //   Usage (Contact Count)
    0x25, 0x0A, 0x75, 0x08,  //   Logical Maximum 10, Report Size 8
    0x81, 0x02,              //   Input
    0xC0,                    // End Collection
};
const Bytes kDeviceConfiguration = {
    0x05, 0x0D,              // Usage Page (Digitizer)
    0x09, 0x0E,              // Usage (Device Configuration)
    0xA1, 0x01,              // Collection (Application)
    0x85, 0x02,              //   Report ID 2
    0x09, 0x22,              //   Usage (Finger)
    0xA1, 0x02,              //   Collection (Logical)
    0x09, 0x52,              //     Usage (Device Mode)
    0x25, 0x0A, 0x75, 0x08,  //     Logical Maximum 10, Report Size 8
    0x95, 0x01, 0xB1, 0x02,  //     Report Count 1, Feature
    0xC0,                    //   End Collection
    0xC0,                    // End Collection
};
const Bytes kVendor = {
    0x06, 0xF0, 0xFF,        // Usage Page (0xFFF0, 2 bytes)
    0x09, 0x01,              // Usage (1)
    0xA1, 0x01,              // Collection (Application)
    0x85, 0x0E,              //   Report ID 0x0E
    0x09, 0x01,              //   Usage (1)
    0x15, 0x00, 0x26, 0xFF, 0x00,  // Logical Minimum 0, Maximum 255
    0x75, 0x08, 0x95, 0x40,  //   Report Size 8, Count 64
    0x91, 0x02,              //   Output
    0x09, 0x01, 0x81, 0x02,  //   Usage (1), Input
    0xC0,                    // End Collection
};

TEST(ReportDescriptor, FindsTopLevelCollectionsInOrder) {
  struct Case {
    const char* name;
    Bytes descriptor;
    Collections expected;
  };
  const std::vector<Case> cases = {
      {"empty", {}, {}},
      {"vendor alone", kVendor, {{0xFFF0, 0x0001}}},
      {"digitizer collections before the vendor one",
       Join({kTouchScreen, kDeviceConfiguration, kVendor}),
       {{0x000D, 0x0004}, {0x000D, 0x000E}, {0xFFF0, 0x0001}}},
      {"vendor first", Join({kVendor, kTouchScreen}), {{0xFFF0, 0x0001}, {0x000D, 0x0004}}},
      // Collections nested inside a top-level one do not count, however deep.
      {"deep nesting",
       {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x09, 0x03, 0xA1, 0x02,
        0x09, 0x04, 0xA1, 0x02, 0xC0, 0xC0, 0xC0, 0xC0, 0x09, 0x06, 0xA1, 0x01, 0xC0},
       {{0x0001, 0x0002}, {0x0001, 0x0006}}},
      // Long items are skipped whole, their data included (which here would
      // read as a Collection and an End Collection).
      {"long items",
       Join({{0xFE, 0x04, 0xF1, 0xA1, 0x01, 0xC0, 0xC0}, {0xFE, 0x00, 0xF2}, kVendor,
             {0xFE, 0x02, 0xF3, 0xA1, 0x01}}),
       {{0xFFF0, 0x0001}}},
      // A long item is no main item: the Usage before it still holds.
      {"long item between usage and collection",
       {0x06, 0xF0, 0xFF, 0x09, 0x01, 0xFE, 0x01, 0xF0, 0x00, 0xA1, 0x01, 0xC0},
       {{0xFFF0, 0x0001}}},
      // A 4-byte Usage carries its page in the high half, whatever the
      // Usage Page in force.
      {"extended usage",
       {0x05, 0x0D, 0x0B, 0x01, 0x00, 0xF0, 0xFF, 0xA1, 0x01, 0xC0, 0x09, 0x04, 0xA1, 0x01, 0xC0},
       {{0xFFF0, 0x0001}, {0x000D, 0x0004}}},
      {"4-byte usage page and data",
       {0x07, 0xF0, 0xFF, 0x00, 0x00, 0x27, 0xFF, 0xFF, 0xFF, 0x7F, 0x0A, 0x01, 0x00, 0xA1, 0x01,
        0xC0},
       {{0xFFF0, 0x0001}}},
      // Zero-byte data: Usage Page 0, Usage 0, Collection (Physical).
      {"0-byte data", {0x04, 0x08, 0xA0, 0xC0}, {{0x0000, 0x0000}}},
      {"last usage counts", {0x05, 0x01, 0x09, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0}, {{0x0001, 0x0002}}},
      // The page is the one in force at the Collection item.
      {"page set after usage", {0x05, 0x01, 0x09, 0x02, 0x05, 0x0D, 0xA1, 0x01, 0xC0}, {{0x000D, 0x0002}}},
      // Every main item ends the local state: the Input uses the Usage up.
      {"usage used up by an input",
       {0x05, 0x0D, 0x09, 0x05, 0x81, 0x02, 0xA1, 0x01, 0xC0}, {{0x000D, 0x0000}}},
      {"usage used up by an end collection",
       {0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x09, 0x22, 0xC0, 0xA1, 0x01, 0xC0},
       {{0x000D, 0x0004}, {0x000D, 0x0000}}},
      {"push and pop",
       {0x05, 0x0D, 0xA4, 0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0xC0, 0xB4, 0x09, 0x04, 0xA1, 0x01, 0xC0},
       {{0x0001, 0x0002}, {0x000D, 0x0004}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Collections got;
    EXPECT_TRUE(Parse(c.descriptor, got));
    EXPECT_EQ(got, c.expected);
  }
}

TEST(ReportDescriptor, RefusesMalformedDescriptors) {
  Bytes deepPush(17, 0xA4);
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"1-byte data cut", {0x05}},
      {"2-byte data cut", {0x06, 0xF0}},
      {"4-byte data cut after 3", {0x0B, 0x01, 0x00, 0xF0}},
      {"4-byte data cut after 1", {0x07, 0xF0}},
      {"long item without size", {0xFE}},
      {"long item without tag", {0xFE, 0x05}},
      {"long item data cut", {0xFE, 0x05, 0xF1, 0xAA, 0xBB}},
      {"end collection first", {0xC0}},
      {"one end collection too many", Join({kVendor, {0xC0}})},
      {"collection left open", {0x09, 0x01, 0xA1, 0x01}},
      {"nested collection left open", {0xA1, 0x01, 0xA1, 0x02, 0xC0}},
      {"pop without push", {0xB4}},
      {"push stack too deep", deepPush},
      {"vendor collection cut", Bytes(kVendor.begin(), kVendor.end() - 1)},
  };
  for (const auto& [name, descriptor] : cases) {
    SCOPED_TRACE(name);
    Collections got{{1, 1}};
    EXPECT_FALSE(Parse(descriptor, got));
    EXPECT_TRUE(got.empty());
  }
}

// Every cut of a real descriptor is refused, except where it falls between
// items outside any collection: that is a whole descriptor of the
// collections before it.
TEST(ReportDescriptor, EveryTruncationIsRefusedOrAWholePrefix) {
  const Bytes full = Join({kTouchScreen, kDeviceConfiguration, kVendor});
  const Collections all = {{0x000D, 0x0004}, {0x000D, 0x000E}, {0xFFF0, 0x0001}};
  const size_t second = kTouchScreen.size();
  const size_t third = second + kDeviceConfiguration.size();
  // Cut length -> number of whole collections before it. The items before
  // each Collection item are Usage Page and Usage.
  const std::map<size_t, size_t> wholeCuts = {
      {0, 0}, {2, 0}, {4, 0}, {second, 1}, {second + 2, 1}, {second + 4, 1},
      {third, 2}, {third + 3, 2}, {third + 5, 2}};
  for (size_t length = 0; length < full.size(); ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    Collections got;
    const bool ok = Parse(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length)), got);
    const auto whole = wholeCuts.find(length);
    EXPECT_EQ(ok, whole != wholeCuts.end());
    if (ok && whole != wholeCuts.end()) {
      EXPECT_EQ(got, Collections(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(whole->second)));
    }
  }
}

TEST(ReportDescriptor, NullWithLengthIsRefused) {
  std::vector<TopLevelCollection> out;
  EXPECT_FALSE(ParseTopLevelCollections(nullptr, 4, out));
  EXPECT_TRUE(ParseTopLevelCollections(nullptr, 0, out));
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace tessaro
