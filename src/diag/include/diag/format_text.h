// printf-style formatting into a std::string of whatever length the text needs.
#pragma once

#include <cstdarg>
#include <string>

namespace vantiro {

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

}  // namespace vantiro
