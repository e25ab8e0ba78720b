#include "cmdline/cmdline.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>

namespace cmdline {

void parser::addFlag(const std::string& longName, char shortName, const std::string& description) {
  declare(std::make_unique<option_without_value>(longName, shortName, description));
}

void parser::declare(std::unique_ptr<option_base> option) {
  const std::string& name = option->longName();
  if (options_.count(name) != 0) throw cmdline_error("multiple definition: " + name);
  declarationOrder_.push_back(option.get());
  options_.emplace(name, std::move(option));
}

option_base& parser::Find(const std::string& longName) const {
  auto found = options_.find(longName);
  if (found == options_.end()) throw cmdline_error("there is no flag: --" + longName);
  return *found->second;
}

bool parser::isSet(const std::string& longName) const { return Find(longName).wasGiven(); }

void parser::applyFlag(const std::string& longName) {
  auto found = options_.find(longName);
  if (found == options_.end()) {
    errors_.push_back("undefined option: --" + longName);
  } else if (!found->second->acceptFlag()) {
    errors_.push_back("option needs value: --" + longName);
  }
}

void parser::applyValue(const std::string& longName, const std::string& text) {
  auto found = options_.find(longName);
  if (found == options_.end()) {
    errors_.push_back("undefined option: --" + longName);
  } else if (!found->second->acceptValue(text)) {
    errors_.push_back("option value is invalid: --" + longName + "=" + text);
  }
}

void parser::parseOrExit(int argc, const char* const argv[], const ExitHook& beforeExit) {
  if (options_.count("help") == 0) addFlag("help", '?', "print this message");
  const bool ok = parseArgs(argc, argv);
  exitOnHelpOrError(argc, ok, beforeExit);
}

bool parser::parseArgs(int argc, const char* const argv[]) {
  errors_.clear();
  positional_.clear();
  if (argc < 1) {
    errors_.push_back("argument number must be longer than 0");
    return false;
  }
  if (programName_.empty()) programName_ = argv[0];

  // A short name shared by two options would make a short group mean two
  // things; the declarations are refused before any argument is looked at.
  shortNames_.clear();
  for (const auto& [name, option] : options_) {
    if (name.empty()) continue;
    const char letter = option->shortName();
    if (letter == 0) continue;
    auto [entry, inserted] = shortNames_.emplace(letter, name);
    if (!inserted) {
      entry->second.clear();
      errors_.push_back(std::string("short option '") + letter + "' is ambiguous");
      return false;
    }
  }

  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    if (argument.compare(0, 2, "--") == 0) {
      const std::string::size_type equals = argument.find('=', 2);
      if (equals != std::string::npos) {
        applyValue(argument.substr(2, equals - 2), argument.substr(equals + 1));
        continue;
      }
      const std::string name = argument.substr(2);
      auto found = options_.find(name);
      if (found == options_.end()) {
        errors_.push_back("undefined option: --" + name);
      } else if (found->second->takesValue()) {
        // The next argument is the value whatever it looks like, so a file
        // name may begin with "-".
        if (index + 1 >= argc) {
          errors_.push_back("option needs value: --" + name);
        } else {
          applyValue(name, argv[index + 1]);
          ++index;
        }
      } else {
        applyFlag(name);
      }
    } else if (!argument.empty() && argument[0] == '-') {
      applyShortGroup(argument.substr(1), index, argc, argv);
    } else {
      positional_.push_back(argument);
    }
  }

  for (const auto& [name, option] : options_) {
    if (!option->isSatisfied()) errors_.push_back("need option: --" + name);
  }
  return errors_.empty();
}

// Every letter but the last is a flag; the last takes the next argument as
// its value when its option carries one.
void parser::applyShortGroup(const std::string& group, int& index, int argc, const char* const argv[]) {
  for (std::string::size_type position = 0; position < group.size(); ++position) {
    const char letter = group[position];
    auto entry = shortNames_.find(letter);
    if (entry == shortNames_.end()) {
      errors_.push_back(std::string("undefined short option: -") + letter);
      continue;
    }
    if (entry->second.empty()) {
      errors_.push_back(std::string("ambiguous short option: -") + letter);
      continue;
    }
    const bool last = position + 1 == group.size();
    if (last && index + 1 < argc && options_.at(entry->second)->takesValue()) {
      applyValue(entry->second, argv[index + 1]);
      ++index;
    } else {
      applyFlag(entry->second);
    }
  }
}

void parser::exitOnHelpOrError(int argc, bool ok, const ExitHook& beforeExit) const {
  auto help = options_.find("help");
  const bool helpAsked = help != options_.end() && help->second->wasGiven();
  if ((argc == 1 && !ok) || helpAsked) {
    if (beforeExit) beforeExit(0, "");
    std::cerr << usageText();
    std::exit(0);
  }
  if (!ok) {
    if (beforeExit) beforeExit(1, firstError());
    std::cerr << firstError() << std::endl << usageText();
    std::exit(1);
  }
}

std::string parser::usageText() const {
  std::string text = "usage: " + programName_ + " ";
  for (const option_base* option : declarationOrder_) {
    if (option->isRequired()) text += option->synopsis() + " ";
  }
  text += "[options] ... " + footer_ + "\n";
  text += "options:\n";

  std::string::size_type widest = 0;
  for (const option_base* option : declarationOrder_) widest = std::max(widest, option->longName().size());
  for (const option_base* option : declarationOrder_) {
    if (option->shortName() != 0) {
      text += std::string("  -") + option->shortName() + ", ";
    } else {
      text += "      ";
    }
    text += "--" + option->longName();
    text += std::string(widest + 4 - option->longName().size(), ' ');
    text += option->helpText() + "\n";
  }
  return text;
}

std::string parser::firstError() const { return errors_.empty() ? std::string() : errors_.front(); }

}  // namespace cmdline
