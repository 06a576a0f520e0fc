#include "diag/trace_file.h"

#include <cerrno>
#include <cstdio>
#include <limits>

#include "diag/trace_line.h"

namespace vantiro {

namespace {

// Writes piece character by character; a write error drops the rest of it.
void WritePiece(std::FILE* file, std::string_view piece) {
  for (char c : piece) {
    if (std::fputc(static_cast<unsigned char>(c), file) == EOF) return;
  }
}

void WriteLine(std::FILE* file, const std::string& stamp, std::string_view text) {
  WritePiece(file, stamp);
  WritePiece(file, text);
  WritePiece(file, "\n");
}

// The stream's position as a write position; one beyond the 32-bit range (or an
// unknown one) starts over at 0.
std::int32_t PositionOf(std::FILE* file) {
  const long position = std::ftell(file);
  if (position < 0 || position > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(position);
}

}  // namespace

void WriteTraceFileLine(const std::string& filePath, const qmos::LocalTime& time,
                        std::string_view text, TraceFileState& state) {
  const std::string stamp = FormatTraceStamp(time);
  std::FILE* file = std::fopen(filePath.c_str(), "r+");
  if (file == nullptr) {
    if (errno != ENOENT) return;
    // A new file: the line is its first content.
    file = std::fopen(filePath.c_str(), "a+");
    if (file == nullptr) return;
    WriteLine(file, stamp, text);
    std::fflush(file);
    state.writePosition = PositionOf(file);
    std::fclose(file);
    return;
  }

  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size >= 0) {
      const TracePlacement placement =
          PlaceTraceLine(size, static_cast<std::int64_t>(stamp.size() + text.size()),
                         state.maxSize, state.writePosition);
      bool placed = true;
      if (placement.wrap) {
        state.writePosition = placement.offset;
        placed = std::fseek(file, placement.offset, SEEK_SET) == 0;
        if (placed && placement.warning) WritePiece(file, FormatTraceWarning(time));
      }
      if (placed) {
        WriteLine(file, stamp, text);
        std::fflush(file);
        state.writePosition = NextTracePosition(std::ftell(file), state.maxSize);
      }
    }
  }
  std::fflush(file);
  std::fclose(file);
}

void DeleteTraceFile(const std::string& filePath) { std::remove(filePath.c_str()); }

}  // namespace vantiro
