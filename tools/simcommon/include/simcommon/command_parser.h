// The command language shared by the emulators (read from standard input and script
// files): one command a line, words separated by blanks, an optional "@N" first word
// naming a client.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace simcommon {

struct Command {
    std::optional<int> client;       // from a leading "@N"; empty = the newest client
    std::string verb;                // the command word
    std::vector<std::string> words;  // the arguments, split at blanks, escapes kept
    std::string rest;                // the raw text after the verb and its blanks
};

using FieldList = std::vector<std::pair<std::string, std::string>>;

// The command on `line`. nullopt with an empty `error` for a blank line or a comment
// ('#' first), nullopt with `error` set for a malformed line.
std::optional<Command> ParseCommand(std::string_view line, std::string& error);

// Decodes \n (line feed), \t (tab), \r (carriage return), \s (blank) and \\ (one
// backslash). Any other backslash sequence, or a backslash at the end, is an error.
std::optional<std::string> Unescape(std::string_view text, std::string& error);

// NAME=VALUE words in order, values unescaped. Names must be non-empty and hold no
// ':' or line feed; "NAME=" gives an empty value.
std::optional<FieldList> ParseFieldWords(const std::vector<std::string>& words,
                                         std::string& error);

// A readable form of bytes for events: printable ASCII as is, everything else as
// \n, \r, \t or \xHH; cut after `max` bytes with "..." and the total count.
std::string DescribeBytes(std::string_view bytes, std::size_t max = 64);

// A non-negative decimal number, or nullopt.
std::optional<long long> ParseCount(std::string_view text);

}  // namespace simcommon
