// Whole-file reads and writes and line splitting for tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// The bytes of the file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
// Replaces the file's content with bytes.
void WriteFile(const std::string& path, std::string_view bytes);
bool Exists(const std::string& path);
// The lines of text, without their line feeds.
std::vector<std::string> Lines(const std::string& text);

}  // namespace testsupport
