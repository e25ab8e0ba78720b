#pragma once
// The command-line option parser: typed options with long and short names,
// defaults, the parse of an argument vector, the usage text and the parse
// errors. Help and wrong command lines end the process in parseOrExit, so a
// caller only ever sees a command line that parsed cleanly.
//
// Exceptions are thrown only for faults of the declaring code (a name
// declared twice, a query of an undeclared name or of the wrong type); a
// value text that does not convert becomes a recorded parse error.
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

namespace cmdline {

class cmdline_error : public std::exception {
 public:
  explicit cmdline_error(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// The name a value type shows in the usage text.
template <class T>
struct type_name;
template <>
struct type_name<int32_t> {
  static const char* get() { return "int"; }
};
template <>
struct type_name<std::string> {
  static const char* get() { return "string"; }
};

// Converts a value text; throws std::bad_cast when the text is not a value
// of T. A number is read as a default-state stream reads it (leading white
// space skipped, decimal, optional sign, range of T) and must use up the
// whole text, so "0x844" and "2116 " are refused.
template <class T>
struct default_reader {
  T operator()(const std::string& text) const {
    std::istringstream in(text);
    T value;
    in >> value;
    if (in.fail() || !in.eof()) throw std::bad_cast();
    return value;
  }
};

template <>
struct default_reader<std::string> {
  std::string operator()(const std::string& text) const { return text; }
};

class option_base {
 public:
  virtual ~option_base() = default;
  virtual bool takesValue() const = 0;
  virtual bool acceptValue(const std::string& text) = 0;
  virtual bool acceptFlag() = 0;
  virtual bool wasGiven() const = 0;
  // False only for a required option that was not given.
  virtual bool isSatisfied() const = 0;
  virtual bool isRequired() const = 0;
  virtual const std::string& longName() const = 0;
  // 0 when the option has no short name.
  virtual char shortName() const = 0;
  virtual const std::string& helpText() const = 0;
  // How the first usage line shows the option when it is required.
  virtual std::string synopsis() const = 0;
};

class option_without_value : public option_base {
 public:
  option_without_value(std::string longName, char shortName, std::string description)
      : longName_(std::move(longName)), shortName_(shortName), description_(std::move(description)) {}

  bool takesValue() const override { return false; }
  bool acceptValue(const std::string&) override { return false; }
  bool acceptFlag() override {
    given_ = true;
    return true;
  }
  bool wasGiven() const override { return given_; }
  bool isSatisfied() const override { return true; }
  bool isRequired() const override { return false; }
  const std::string& longName() const override { return longName_; }
  char shortName() const override { return shortName_; }
  const std::string& helpText() const override { return description_; }
  std::string synopsis() const override { return "--" + longName_; }

 private:
  std::string longName_;
  char shortName_;
  std::string description_;
  bool given_ = false;
};

template <class T>
class option_with_value : public option_base {
 public:
  option_with_value(std::string longName, char shortName, const std::string& description, bool required,
                    const T& defaultValue)
      : longName_(std::move(longName)),
        shortName_(shortName),
        required_(required),
        helpText_(buildHelpText(description, required, defaultValue)),
        defaultValue_(defaultValue),
        value_(defaultValue) {}

  bool takesValue() const override { return true; }
  // A text that does not convert leaves the option as it was.
  bool acceptValue(const std::string& text) override {
    try {
      value_ = readValue(text);
    } catch (const std::exception&) {
      return false;
    }
    given_ = true;
    return true;
  }
  bool acceptFlag() override { return false; }
  bool wasGiven() const override { return given_; }
  bool isSatisfied() const override { return !required_ || given_; }
  bool isRequired() const override { return required_; }
  const std::string& longName() const override { return longName_; }
  char shortName() const override { return shortName_; }
  const std::string& helpText() const override { return helpText_; }
  std::string synopsis() const override { return "--" + longName_ + "=" + type_name<T>::get(); }

  virtual T readValue(const std::string& text) = 0;

  // The last value given, or the default when the option was not given.
  T& value() { return value_; }

 private:
  static std::string buildHelpText(const std::string& description, bool required, const T& defaultValue) {
    std::ostringstream out;
    out << description << " (" << type_name<T>::get();
    if (!required) out << " [=" << defaultValue << "]";
    out << ")";
    return out.str();
  }

  std::string longName_;
  char shortName_;
  bool required_;
  std::string helpText_;
  bool given_ = false;
  T defaultValue_;
  T value_;
};

template <class T, class F>
class option_with_value_with_reader : public option_with_value<T> {
 public:
  option_with_value_with_reader(std::string longName, char shortName, const std::string& description,
                                bool required, const T& defaultValue, F reader = F())
      : option_with_value<T>(std::move(longName), shortName, description, required, defaultValue),
        reader_(std::move(reader)) {}

  T readValue(const std::string& text) override { return reader_(text); }

 private:
  F reader_;
};

class parser {
 public:
  parser() = default;
  parser(const parser&) = delete;
  parser& operator=(const parser&) = delete;

  void addFlag(const std::string& longName, char shortName, const std::string& description);

  template <class T>
  void addOption(const std::string& longName, char shortName, const std::string& description,
                 bool required = false, const T& defaultValue = T()) {
    declare(std::make_unique<option_with_value_with_reader<T, default_reader<T>>>(longName, shortName, description,
                                                                                  required, defaultValue));
  }

  // Called just before the process ends for help (0, "") or a wrong command
  // line (1, the first error), so that a caller can settle what it owes the
  // run before it goes; nothing it does changes what the parser prints.
  using ExitHook = std::function<void(int exitCode, const std::string& error)>;

  // Declares "help" (-?) unless the caller did, parses, and ends the process
  // for help or a wrong command line (see exitOnHelpOrError).
  void parseOrExit(int argc, const char* const argv[], const ExitHook& beforeExit = nullptr);
  // Parses and records every error found; true when none was.
  bool parseArgs(int argc, const char* const argv[]);
  // Help (or argc 1 with errors): the usage text to standard error, exit 0.
  // Errors: the first one, a line end and the usage text, exit 1.
  // Otherwise returns.
  void exitOnHelpOrError(int argc, bool ok, const ExitHook& beforeExit = nullptr) const;

  bool isSet(const std::string& longName) const;

  template <class T>
  T& value(const std::string& longName) {
    auto* option = dynamic_cast<option_with_value<T>*>(&Find(longName));
    if (option == nullptr) throw cmdline_error("type mismatch flag '" + longName + "'");
    return option->value();
  }

  std::string usageText() const;
  // The first recorded error, or "" when there is none.
  std::string firstError() const;

  const std::vector<std::string>& positionalArguments() const { return positional_; }
  const std::vector<std::string>& errors() const { return errors_; }

 private:
  void declare(std::unique_ptr<option_base> option);
  option_base& Find(const std::string& longName) const;
  void applyFlag(const std::string& longName);
  void applyValue(const std::string& longName, const std::string& text);
  void applyShortGroup(const std::string& group, int& index, int argc, const char* const argv[]);

  // Ordered byte-wise by long name; the short-name check and the "need
  // option" messages follow this order.
  std::map<std::string, std::unique_ptr<option_base>> options_;
  std::vector<option_base*> declarationOrder_;
  std::string footer_;
  std::string programName_;
  std::vector<std::string> positional_;
  std::vector<std::string> errors_;
  std::map<char, std::string> shortNames_;
};

}  // namespace cmdline
