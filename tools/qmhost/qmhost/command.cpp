#include "qmhost/command.h"

#include <charconv>

namespace qmhost {

namespace {

constexpr std::int64_t kMaxDurationMs = 24LL * 60 * 60 * 1000;

// Splits off the first word (up to one blank); rest is what follows that blank.
std::string_view FirstWord(std::string_view text, std::string_view& rest) {
  const auto blank = text.find(' ');
  if (blank == std::string_view::npos) {
    rest = {};
    return text;
  }
  rest = text.substr(blank + 1);
  return text.substr(0, blank);
}

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  while (!text.empty()) {
    std::string_view rest;
    words.push_back(FirstWord(text, rest));
    text = rest;
  }
  return words;
}

bool ParseInteger(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& out) {
  if (text.empty()) return false;
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (value < low || value > high) return false;
  out = value;
  return true;
}

ParsedLine Error(std::string text) {
  ParsedLine parsed;
  parsed.error = std::move(text);
  return parsed;
}

ParsedLine Ok(Command command) {
  ParsedLine parsed;
  parsed.command = std::move(command);
  return parsed;
}

// Commands whose arguments are single words: checks the count.
bool WordCount(const std::vector<std::string_view>& words, std::size_t low, std::size_t high) {
  return words.size() >= low && words.size() <= high;
}

ParsedLine ParseForm(std::string_view args) {
  std::string_view actionsText;
  const std::string_view name = FirstWord(args, actionsText);
  if (name.empty()) return Error("form: missing form name");
  Command command;
  command.kind = CommandKind::Form;
  command.text = std::string(name);
  for (const std::string& part : SplitUnescaped(actionsText, ';')) {
    std::string_view action = part;
    while (!action.empty() && action.front() == ' ') action.remove_prefix(1);
    if (action.empty()) continue;  // "a; ; b" and a trailing ";" add nothing
    std::string error;
    auto parsed = ParseFormAction(action, error);
    if (!parsed) return Error("form " + command.text + ": " + error);
    command.actions.push_back(std::move(*parsed));
  }
  return Ok(std::move(command));
}

}  // namespace

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    switch (text[i + 1]) {
      case 'n': out += '\n'; ++i; break;
      case 't': out += '\t'; ++i; break;
      case ';': out += ';'; ++i; break;
      case '\\': out += '\\'; ++i; break;
      default: out += c; break;  // not an escape: the backslash stays
    }
  }
  return out;
}

std::vector<std::string> SplitUnescaped(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::string current;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      // Keep the escape for Unescape; only the character after it is protected.
      current += c;
      current += text[++i];
      continue;
    }
    if (c == separator) {
      parts.push_back(std::move(current));
      current.clear();
      continue;
    }
    current += c;
  }
  parts.push_back(std::move(current));
  return parts;
}

std::optional<FormAction> ParseFormAction(std::string_view action, std::string& error) {
  std::string_view rest;
  const std::string_view verb = FirstWord(action, rest);
  std::string_view argument;
  const std::string_view control = FirstWord(rest, argument);
  FormAction parsed;
  parsed.control = std::string(control);
  if (verb == "type" || verb == "select") {
    if (control.empty()) {
      error = std::string(verb) + ": missing control";
      return std::nullopt;
    }
    parsed.kind = verb == "type" ? FormAction::Kind::Type : FormAction::Kind::Select;
    parsed.text = Unescape(argument);
    return parsed;
  }
  if (verb == "check") {
    if (control.empty() || (argument != "0" && argument != "1")) {
      error = "check: expected \"check CONTROL 0|1\"";
      return std::nullopt;
    }
    parsed.kind = FormAction::Kind::Check;
    parsed.checked = argument == "1";
    return parsed;
  }
  if (verb == "click") {
    if (control.empty() || !argument.empty() || rest.find(' ') != std::string_view::npos) {
      error = "click: expected \"click CONTROL\"";
      return std::nullopt;
    }
    parsed.kind = FormAction::Kind::Click;
    return parsed;
  }
  error = "unknown action \"" + std::string(verb) + "\"";
  return std::nullopt;
}

ParsedLine ParseCommandLine(std::string_view line) {
  // Scripts written on other systems end lines with CR LF.
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const auto first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos || line[first] == '#') return {};

  std::string_view args;
  const std::string_view name = FirstWord(line, args);
  const std::vector<std::string_view> words = Words(args);
  const std::string nameText(name);
  Command command;

  if (name == "publish") {
    std::string_view data;
    const std::string_view queue = FirstWord(args, data);
    if (queue.empty()) return Error("publish: expected \"publish QUEUE DATA\"");
    command.kind = CommandKind::Publish;
    command.text = std::string(queue);
    command.value = Unescape(data);
    return Ok(std::move(command));
  }
  if (name == "set") {
    std::string_view value;
    const std::string_view key = FirstWord(args, value);
    if (key.empty()) return Error("set: expected \"set KEY VALUE\"");
    command.kind = CommandKind::Set;
    command.text = std::string(key);
    command.value = Unescape(value);
    return Ok(std::move(command));
  }
  if (name == "form") return ParseForm(args);
  if (name == "wait") {
    // TEXT is one word, or the rest of the line when the last word is not a number.
    if (args.empty()) return Error("wait: expected \"wait TEXT [MS]\"");
    command.kind = CommandKind::Wait;
    command.number = kDefaultWaitMs;
    std::string_view text = args;
    const auto lastBlank = args.rfind(' ');
    if (lastBlank != std::string_view::npos && lastBlank > 0) {
      std::int64_t ms = 0;
      const std::string_view last = args.substr(lastBlank + 1);
      if (ParseInteger(last, 0, kMaxDurationMs, ms)) {
        command.number = ms;
        text = args.substr(0, lastBlank);
      } else if (words.size() == 2 && !last.empty() &&
                 last.find_first_not_of("0123456789") == std::string_view::npos) {
        return Error("wait: time-out out of range: " + std::string(last));
      }
    }
    command.value = Unescape(text);
    if (command.value.empty()) return Error("wait: empty text");
    return Ok(std::move(command));
  }

  if (name == "menu") {
    if (!WordCount(words, 1, 1) || !ParseInteger(words[0], -32768, 32767, command.number))
      return Error("menu: expected \"menu ID\" with ID from -32768 to 32767");
    command.kind = CommandKind::Menu;
    return Ok(std::move(command));
  }
  if (name == "menu-structure" || name == "info" || name == "hasgui" || name == "terminate" ||
      name == "quit" || name == "help") {
    if (!words.empty()) return Error(nameText + ": takes no arguments");
    command.kind = name == "menu-structure" ? CommandKind::MenuStructure
                   : name == "info"         ? CommandKind::Info
                   : name == "hasgui"       ? CommandKind::HasGui
                   : name == "terminate"    ? CommandKind::Terminate
                   : name == "quit"         ? CommandKind::Quit
                                            : CommandKind::Help;
    return Ok(std::move(command));
  }
  if (name == "unset" || name == "get") {
    if (!WordCount(words, 1, 1)) return Error(nameText + ": expected \"" + nameText + " KEY\"");
    command.kind = name == "unset" ? CommandKind::Unset : CommandKind::Get;
    command.text = std::string(words[0]);
    return Ok(std::move(command));
  }
  if (name == "service") {
    if (words.size() == 2 && words[1] == "off") {
      command.kind = CommandKind::ServiceOff;
      command.text = std::string(words[0]);
      return Ok(std::move(command));
    }
    if (words.size() != 3 || words[1].empty() || !ParseInteger(words[2], 1, 65535, command.number))
      return Error("service: expected \"service NAME HOST PORT\" (PORT 1 to 65535) or \"service NAME off\"");
    command.kind = CommandKind::Service;
    command.text = std::string(words[0]);
    command.value = std::string(words[1]);
    return Ok(std::move(command));
  }
  if (name == "box") {
    if (!WordCount(words, 1, 1) || !ParseInteger(words[0], 1, 0x7FFFFFFF, command.number))
      return Error("box: expected \"box RESULT\" (1 OK, 2 Cancel, 6 Yes, 7 No ...)");
    command.kind = CommandKind::Box;
    return Ok(std::move(command));
  }
  if (name == "sleep") {
    if (!WordCount(words, 1, 1) || !ParseInteger(words[0], 0, kMaxDurationMs, command.number))
      return Error("sleep: expected \"sleep MS\"");
    command.kind = CommandKind::Sleep;
    return Ok(std::move(command));
  }
  return Error("unknown command \"" + nameText + "\" (try \"help\")");
}

const char* CommandHelpText() {
  return "Commands (one a line; blank lines and lines starting with # are ignored):\n"
         "  publish QUEUE DATA          the host publishes DATA on QUEUE\n"
         "  menu ID                     MenuOptionSelected(ID) on every plug-in with a menu\n"
         "  menu-structure              GetMenuStructure\n"
         "  info                        PlugInInfo\n"
         "  hasgui                      HasGUI\n"
         "  set KEY VALUE               write a plug-in setting\n"
         "  unset KEY                   delete a plug-in setting\n"
         "  get KEY                     report a plug-in setting\n"
         "  service NAME HOST PORT      answer service lookups for NAME\n"
         "  service NAME off            stop answering them\n"
         "  box RESULT                  close the next message box with RESULT\n"
         "  form NAME ACTION; ...       queue actions for the next showing of form NAME\n"
         "                              (type CONTROL TEXT, check CONTROL 0|1,\n"
         "                               select CONTROL TEXT, click CONTROL)\n"
         "  wait TEXT [MS]              wait for an event line containing TEXT\n"
         "  sleep MS                    read no command for MS milliseconds\n"
         "  terminate                   Terminate on every plug-in\n"
         "  quit                        terminate, release, unload and exit\n"
         "  help                        this list\n"
         "Escapes in DATA, VALUE and TEXT: \\n \\t \\; \\\\\n";
}

}  // namespace qmhost
