#include "simcommon/command_parser.h"

#include <charconv>
#include <cstdio>

namespace simcommon {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<std::string> SplitWords(std::string_view text) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !IsBlank(text[i])) ++i;
        if (i > start) words.emplace_back(text.substr(start, i - start));
    }
    return words;
}

std::string_view SkipBlanks(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    return text.substr(i);
}

std::string_view TrimEnd(std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<long long> ParseCount(std::string_view text) {
    long long value = 0;
    if (text.empty()) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

std::optional<Command> ParseCommand(std::string_view line, std::string& error) {
    error.clear();
    std::string_view text = SkipBlanks(TrimEnd(line));
    if (text.empty() || text.front() == '#') return std::nullopt;

    Command command;
    auto take_word = [&text]() {
        std::size_t end = 0;
        while (end < text.size() && !IsBlank(text[end])) ++end;
        std::string_view word = text.substr(0, end);
        text = SkipBlanks(text.substr(end));
        return word;
    };

    std::string_view word = take_word();
    if (word.front() == '@') {
        const auto number = ParseCount(word.substr(1));
        if (!number || *number < 1 || *number > 1'000'000'000) {
            error = "bad client number '" + std::string(word) + "'";
            return std::nullopt;
        }
        command.client = static_cast<int>(*number);
        if (text.empty()) {
            error = "no command after '" + std::string(word) + "'";
            return std::nullopt;
        }
        word = take_word();
    }
    command.verb = std::string(word);
    command.rest = std::string(text);
    command.words = SplitWords(text);
    return command;
}

std::optional<std::string> Unescape(std::string_view text, std::string& error) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 == text.size()) {
            error = "backslash at the end of '" + std::string(text) + "'";
            return std::nullopt;
        }
        switch (text[++i]) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 's': out += ' '; break;
            case '\\': out += '\\'; break;
            default:
                error = "unknown escape '\\" + std::string(1, text[i]) + "' in '" +
                        std::string(text) + "'";
                return std::nullopt;
        }
    }
    return out;
}

std::optional<FieldList> ParseFieldWords(const std::vector<std::string>& words,
                                         std::string& error) {
    FieldList fields;
    for (const std::string& word : words) {
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos || equals == 0) {
            error = "expected NAME=VALUE, got '" + word + "'";
            return std::nullopt;
        }
        auto name = Unescape(std::string_view(word).substr(0, equals), error);
        if (!name) return std::nullopt;
        if (name->find_first_of(":\n") != std::string::npos || name->front() == '\t') {
            error = "field name '" + *name + "' may not hold ':' or a line feed or start with a tab";
            return std::nullopt;
        }
        auto value = Unescape(std::string_view(word).substr(equals + 1), error);
        if (!value) return std::nullopt;
        if (value->find('\0') != std::string::npos) {
            error = "field value may not hold a NUL";
            return std::nullopt;
        }
        fields.emplace_back(std::move(*name), std::move(*value));
    }
    return fields;
}

std::string DescribeBytes(std::string_view bytes, std::size_t max) {
    std::string out;
    const std::size_t shown = bytes.size() < max ? bytes.size() : max;
    for (std::size_t i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    if (shown < bytes.size()) out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

}  // namespace simcommon
