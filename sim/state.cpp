#include "sim/state.h"

#include <functional>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>

#include "sim/hex.h"

namespace tessaro::sim {

const char* const kAckKeys[kAckCount] = {"patch", "flash", "cfgAccept", "cfgFinish"};

bool UseUp(Counter& counter, bool& changed) {
  if (counter.count == 0) return false;
  changed = true;
  if (counter.after > 0) {
    --counter.after;
    return false;
  }
  --counter.count;
  return true;
}

namespace {

// Indexed by Mode.
const char* const kModeNames[] = {"normal", "patch", "updateProgram"};

using Json = nlohmann::json;
// Written in a fixed order, so that the file reads the same after every run.
using OrderedJson = nlohmann::ordered_json;

const uint8_t kDefaultConfig[] = {0x84, 0x00, 0x7C, 0x01, 0x02, 0x03, 0x04, 0x05,
                                  0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0xB2};

// The first fault found while reading; later checks are skipped.
class Reader {
 public:
  explicit Reader(std::string& error) : error_(error) {}

  bool Fail(const std::string& key, const std::string& what) {
    error_ = key + ": " + what;
    return false;
  }

  bool Bool(const Json& value, const std::string& key, bool& out) {
    if (!value.is_boolean()) return Fail(key, "expected true or false");
    out = value.get<bool>();
    return true;
  }

  // A JSON integer from 0 to `max`; "1.0", "-1" and "\"1\"" are refused.
  bool Unsigned(const Json& value, const std::string& key, uint64_t max, uint64_t& out) {
    if (!value.is_number_unsigned() || value.get<uint64_t>() > max) {
      return Fail(key, "expected an integer from 0 to " + std::to_string(max));
    }
    out = value.get<uint64_t>();
    return true;
  }

  bool U32(const Json& value, const std::string& key, uint32_t& out) {
    uint64_t wide = 0;
    if (!Unsigned(value, key, std::numeric_limits<uint32_t>::max(), wide)) return false;
    out = static_cast<uint32_t>(wide);
    return true;
  }

  bool Object(const Json& value, const std::string& key) {
    if (!value.is_object()) return Fail(key, "expected an object");
    return true;
  }

  // A counter: a plain number, or {"after": M, "count": N} with both keys
  // optional.
  bool CounterValue(const Json& value, const std::string& key, Counter& out) {
    out = Counter{};
    if (!value.is_object()) return U32(value, key, out.count);
    for (const auto& [name, number] : value.items()) {
      if (name == "after") {
        if (!U32(number, key + ".after", out.after)) return false;
      } else if (name == "count") {
        if (!U32(number, key + ".count", out.count)) return false;
      } else {
        return Fail(key + "." + name, "unknown key");
      }
    }
    return true;
  }

  // Counters keyed by a hex number of `digits` digits; upper and lower case
  // spellings of one number are the same key.
  template <typename Key>
  bool CounterMap(const Json& value, const std::string& key, int digits, std::map<Key, Counter>& out) {
    if (!Object(value, key)) return false;
    out.clear();
    for (const auto& [name, count] : value.items()) {
      const std::string path = key + "." + name;
      uint32_t number = 0;
      if (!ParseHexNumber(name, digits, number)) {
        return Fail(path, "expected a key of " + std::to_string(digits) + " hex digits");
      }
      if (out.count(static_cast<Key>(number)) != 0) return Fail(path, "the same number twice");
      if (!CounterValue(count, path, out[static_cast<Key>(number)])) return false;
    }
    return true;
  }

  // The object of the four acknowledgement keys; `read` takes one value.
  template <typename T, typename ReadOne>
  bool AckObject(const Json& value, const std::string& key, std::array<T, kAckCount>& out, ReadOne read) {
    if (!Object(value, key)) return false;
    for (const auto& [name, item] : value.items()) {
      size_t index = 0;
      while (index < kAckCount && name != kAckKeys[index]) ++index;
      if (index == kAckCount) return Fail(key + "." + name, "unknown key");
      if (!read(item, key + "." + name, out[index])) return false;
    }
    return true;
  }

 private:
  std::string& error_;
};

// The PID is 4 characters of one byte each; characters U+0080 to U+00FF stand
// for the bytes 0x80 to 0xFF, so that any identity taken from flash can be
// written back.
bool DecodePid(const std::string& text, std::array<uint8_t, 4>& out) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    const auto lead = static_cast<uint8_t>(text[i]);
    uint8_t byte = 0;
    if (lead < 0x80) {
      byte = lead;
      i += 1;
    } else if ((lead == 0xC2 || lead == 0xC3) && i + 1 < text.size()) {
      byte = static_cast<uint8_t>((lead & 0x03) << 6 | (static_cast<uint8_t>(text[i + 1]) & 0x3F));
      i += 2;
    } else {
      return false;
    }
    if (count >= out.size()) return false;
    out[count] = byte;
  }
  return count == out.size();
}

std::string EncodePid(const std::array<uint8_t, 4>& pid) {
  std::string text;
  for (uint8_t byte : pid) {
    if (byte < 0x80) {
      text.push_back(static_cast<char>(byte));
    } else {
      text.push_back(static_cast<char>(0xC0 | byte >> 6));
      text.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return text;
}

bool ReadFaults(Reader& reader, const Json& faults, Faults& out) {
  if (!reader.Object(faults, "faults")) return false;
  for (const auto& [name, value] : faults.items()) {
    const std::string key = "faults." + name;
    bool ok = false;
    if (name == "openFailures") {
      ok = reader.CounterValue(value, key, out.openFailures);
    } else if (name == "readFailures") {
      ok = reader.CounterMap(value, key, 4, out.readFailures);
    } else if (name == "lengthMismatch") {
      ok = reader.CounterMap(value, key, 4, out.lengthMismatch);
    } else if (name == "writeFailures") {
      ok = reader.CounterMap(value, key, 4, out.writeFailures);
    } else if (name == "commandFailures") {
      ok = reader.CounterMap(value, key, 2, out.commandFailures);
    } else if (name == "refuse") {
      ok = reader.AckObject(value, key, out.refuse, [&reader](const Json& v, const std::string& k, Counter& c) {
        return reader.CounterValue(v, k, c);
      });
    } else if (name == "ackAfter") {
      ok = reader.AckObject(value, key, out.ackAfter, [&reader](const Json& v, const std::string& k, uint32_t& n) {
        return reader.U32(v, k, n);
      });
    } else if (name == "keepConfig") {
      ok = reader.CounterValue(value, key, out.keepConfig);
    } else if (name == "corruptHead") {
      ok = reader.CounterValue(value, key, out.corruptHead);
    } else if (name == "killAfterEvents") {
      ok = reader.U32(value, key, out.killAfterEvents);
    } else {
      ok = reader.Fail(key, "unknown key");
    }
    if (!ok) return false;
  }
  return true;
}

bool ReadKey(Reader& reader, const std::string& key, const Json& value, State& state) {
  uint64_t number = 0;
  if (key == "present") return reader.Bool(value, key, state.present);
  if (key == "virtualTime") return reader.Bool(value, key, state.virtualTime);
  if (key == "vendorId") {
    if (!reader.Unsigned(value, key, 0xFFFF, number)) return false;
    state.vendorId = static_cast<uint16_t>(number);
    return true;
  }
  if (key == "controllers") {
    if (!reader.Unsigned(value, key, kMaxCollections, number)) return false;
    if (number == 0) return reader.Fail(key, "expected 1 or more");
    state.controllers = static_cast<uint32_t>(number);
    return true;
  }
  if (key == "otherCollections" || key == "matchingCollections") {
    if (!reader.Unsigned(value, key, kMaxCollections, number)) return false;
    (key == "otherCollections" ? state.otherCollections : state.matchingCollections) = static_cast<uint32_t>(number);
    return true;
  }
  if (key == "sensorByte") {
    if (!reader.Unsigned(value, key, 0xFF, number)) return false;
    state.sensorByte = static_cast<uint8_t>(number);
    return true;
  }
  if (key == "identityAddress") {
    // All 8 bytes of the identity must lie in flash.
    if (!reader.Unsigned(value, key, kFlashBytes - 8, number)) return false;
    state.identityAddress = static_cast<uint32_t>(number);
    return true;
  }
  if (key == "pid") {
    if (!value.is_string() || !DecodePid(value.get<std::string>(), state.pid)) {
      return reader.Fail(key, "expected 4 characters");
    }
    return true;
  }
  std::vector<uint8_t> bytes;
  if (key == "vid") {
    if (!value.is_string() || !ParseHexBytes(value.get<std::string>(), bytes) || bytes.size() != state.vid.size()) {
      return reader.Fail(key, "expected 8 hex digits");
    }
    std::copy(bytes.begin(), bytes.end(), state.vid.begin());
    return true;
  }
  if (key == "config") {
    if (!value.is_string() || !ParseHexBytes(value.get<std::string>(), bytes) || bytes.size() > kMaxConfigBytes) {
      return reader.Fail(key, "expected hex bytes, at most " + std::to_string(kMaxConfigBytes) + " of them");
    }
    state.config = std::move(bytes);
    return true;
  }
  if (key == "mode") {
    for (size_t i = 0; i < std::size(kModeNames); ++i) {
      if (value.is_string() && value.get<std::string>() == kModeNames[i]) {
        state.mode = static_cast<Mode>(i);
        return true;
      }
    }
    return reader.Fail(key, "expected \"normal\", \"patch\" or \"updateProgram\"");
  }
  if (key == "faults") return ReadFaults(reader, value, state.faults);
  return reader.Fail(key, "unknown key");
}

// A counter with nothing to let pass is written as the plain number it was
// before "after" existed; a used-up counter as 0.
OrderedJson CounterJson(const Counter& counter) {
  if (counter.after == 0 || counter.count == 0) return counter.count;
  OrderedJson object = OrderedJson::object();
  object["after"] = counter.after;
  object["count"] = counter.count;
  return object;
}

template <typename Key>
OrderedJson CountersJson(const std::map<Key, Counter>& counters, int digits) {
  OrderedJson object = OrderedJson::object();
  for (const auto& [key, counter] : counters) object[ToHexNumber(key, digits)] = CounterJson(counter);
  return object;
}

template <typename T, typename Write>
OrderedJson AckJson(const std::array<T, kAckCount>& values, Write write) {
  OrderedJson object = OrderedJson::object();
  for (size_t i = 0; i < kAckCount; ++i) object[kAckKeys[i]] = write(values[i]);
  return object;
}

}  // namespace

State FactoryState(uint16_t vendorId) {
  State state;
  state.vendorId = vendorId;
  state.pid = {'T', 'S', '0', '1'};
  state.vid = {0x01, 0x00, 0x00, 0x01};
  state.sensorByte = 0x13;
  state.config.assign(std::begin(kDefaultConfig), std::end(kDefaultConfig));
  return state;
}

bool ParseState(const std::string& text, State& state, std::string& error) {
  Json root;
  try {
    root = Json::parse(text);
  } catch (const Json::parse_error& e) {
    error = "not valid JSON (at byte " + std::to_string(e.byte) + ")";
    return false;
  }
  Reader reader(error);
  if (!root.is_object()) return reader.Fail("(top level)", "expected an object");
  for (const auto& [key, value] : root.items()) {
    if (!ReadKey(reader, key, value, state)) return false;
  }
  return true;
}

std::string SerializeState(const State& state, uint16_t buildVendorId) {
  OrderedJson root = OrderedJson::object();
  root["present"] = state.present;
  if (state.vendorId != buildVendorId) root["vendorId"] = state.vendorId;
  root["otherCollections"] = state.otherCollections;
  root["matchingCollections"] = state.matchingCollections;
  // Written only for a host of several, so that the file of one stays as it was.
  if (state.controllers != 1) root["controllers"] = state.controllers;
  root["pid"] = EncodePid(state.pid);
  root["vid"] = ToUpperHex(state.vid.data(), state.vid.size());
  root["sensorByte"] = state.sensorByte;
  root["config"] = ToUpperHex(state.config.data(), state.config.size());
  root["identityAddress"] = state.identityAddress;
  root["virtualTime"] = state.virtualTime;
  root["mode"] = kModeNames[static_cast<size_t>(state.mode)];

  const Faults& faults = state.faults;
  OrderedJson& out = root["faults"];
  out["openFailures"] = CounterJson(faults.openFailures);
  out["readFailures"] = CountersJson(faults.readFailures, 4);
  out["lengthMismatch"] = CountersJson(faults.lengthMismatch, 4);
  out["writeFailures"] = CountersJson(faults.writeFailures, 4);
  out["commandFailures"] = CountersJson(faults.commandFailures, 2);
  out["refuse"] = AckJson(faults.refuse, CounterJson);
  out["ackAfter"] = AckJson(faults.ackAfter, [](uint32_t n) { return OrderedJson(n); });
  out["keepConfig"] = CounterJson(faults.keepConfig);
  out["corruptHead"] = CounterJson(faults.corruptHead);
  out["killAfterEvents"] = faults.killAfterEvents;
  return root.dump(2) + "\n";
}

}  // namespace tessaro::sim
