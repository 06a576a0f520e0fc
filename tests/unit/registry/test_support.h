// Helpers of the registry tests: fresh temporary folders, files, UTF-16 encoding
// and running programs with a given standard input.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "qmos/registry.h"

namespace regtest {

// A fresh folder, removed with its content on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Points the registry at a file in a fresh folder for the test's lifetime.
class ScopedRegistry {
 public:
  ScopedRegistry();
  ~ScopedRegistry();
  const std::string& File() const { return file_; }
  const TempDir& Dir() const { return dir_; }

 private:
  TempDir dir_;
  std::string file_;
};

void WriteBytes(const std::string& path, std::string_view bytes);
std::string ReadBytes(const std::string& path);
bool Exists(const std::string& path);
std::vector<std::string> ListFolder(const std::string& path);

// UTF-8 to UTF-16LE bytes (BMP and supplementary planes).
std::string Utf16Le(std::string_view utf8, bool withBom);

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs program with args, feeding input on standard input (closed after it).
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = "");

// Starts the program without waiting; returns its process id.
int StartProgram(const std::string& program, const std::vector<std::string>& args);
int WaitProgram(int pid);

// $QM_TEST_BIN_DIR/qmreg
std::string QmregPath();

}  // namespace regtest
