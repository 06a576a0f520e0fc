// The host's command language: one command a line, read from a script or standard
// input. This module only turns a line into a Command (or an error text); running
// commands is the host's job.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qmhost {

// One step of a scripted form: applied in order once the form is shown modally.
struct FormAction {
  enum class Kind { Type, Check, Select, Click };
  Kind kind = Kind::Click;
  std::string control;
  std::string text;      // Type, Select: the text (escapes resolved)
  bool checked = false;  // Check
};

enum class CommandKind {
  Publish,        // text = queue, value = data
  Menu,           // number = menu id
  MenuStructure,
  Info,
  HasGui,
  Set,            // text = key, value = value
  Unset,          // text = key
  Get,            // text = key
  Service,        // text = name, value = host, number = port
  ServiceOff,     // text = name
  Box,            // number = result
  Form,           // text = form name, actions
  Wait,           // value = text to wait for, number = time-out in ms
  Sleep,          // number = ms
  Terminate,
  Quit,
  Help,
};

struct Command {
  CommandKind kind = CommandKind::Help;
  std::string text;
  std::string value;
  std::int64_t number = 0;
  std::vector<FormAction> actions;
};

// The outcome of parsing one line: a command, nothing (blank line or comment), or
// an error text for the `error` event.
struct ParsedLine {
  std::optional<Command> command;
  std::string error;
  bool Ignored() const { return !command && error.empty(); }
};

ParsedLine ParseCommandLine(std::string_view line);

// Resolves the escapes \n, \t, \; and \\. Any other backslash is kept as it stands.
std::string Unescape(std::string_view text);

// Splits at every semicolon not written as "\;"; the parts keep their escapes.
std::vector<std::string> SplitUnescaped(std::string_view text, char separator);

// Parses one form action ("type CONTROL TEXT", "check CONTROL 0|1",
// "select CONTROL TEXT", "click CONTROL"); the text still holds its escapes.
std::optional<FormAction> ParseFormAction(std::string_view action, std::string& error);

// Wait time-out when the command gives none.
constexpr std::int64_t kDefaultWaitMs = 30000;

// The lines `help` prints.
const char* CommandHelpText();

}  // namespace qmhost
