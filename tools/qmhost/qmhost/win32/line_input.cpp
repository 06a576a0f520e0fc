// Reading command input on Windows. A pipe cannot be waited on together with the
// thread's messages, so a thread of the reader's own does the reading: it reads
// once each time the loop asks for more (so input is read no sooner than on Linux,
// where the loop reads only while it waits for a command), hands over what it read
// and signals the loop's wake event. A console is read as UTF-16 and handed over as
// UTF-8; Ctrl-Z at the start of a line ends it, as end of input.
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <thread>

#include "qmhost/line_reader.h"
#include "qmhost/wake_signal.h"
#include "win32/utf16.h"

#include <io.h>

#include <windows.h>

namespace qmhost {

struct LineReader::Background {
  Background(int fd, bool ownsFd) : fd(fd), ownsFd(ownsFd) {}
  ~Background() {
    if (ownsFd && fd >= 0) ::_close(fd);
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  const int fd;
  const bool ownsFd;
  std::mutex mutex;
  std::condition_variable asked;
  bool busy = false;      // asked to read, and not done yet
  bool ended = false;     // end of input (or a read error)
  bool stopping = false;  // the reader is gone
  std::string read;       // read, not yet taken
  WakeSignal* wake = nullptr;
  std::thread thread;
};

namespace {

constexpr DWORD kChunk = 8192;

// One read of the input into data; false at its end.
bool ReadSome(HANDLE input, std::string& data) {
  DWORD mode = 0;
  if (::GetConsoleMode(input, &mode)) {
    wchar_t chunk[kChunk / 4];
    DWORD got = 0;
    if (!::ReadConsoleW(input, chunk, static_cast<DWORD>(std::size(chunk)), &got, nullptr)) return false;
    if (got == 0 || chunk[0] == L'\x1a') return false;
    data = qmtools::Utf8FromWide(std::wstring_view(chunk, got));
    return true;
  }
  // A closed pipe fails the read (or, under Wine, reads nothing); a file reads nothing
  // at its end.
  char chunk[kChunk];
  DWORD got = 0;
  if (!::ReadFile(input, chunk, kChunk, &got, nullptr) || got == 0) return false;
  data.assign(chunk, got);
  return true;
}

// The reading thread's body (Shared is LineReader::Background).
template <class Shared>
void ReadOn(const std::shared_ptr<Shared>& self) {
  const auto input = reinterpret_cast<HANDLE>(::_get_osfhandle(self->fd));
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(self->mutex);
      self->asked.wait(lock, [&] { return self->busy || self->stopping; });
      if (self->stopping) return;
    }
    std::string data;
    const bool more = input != INVALID_HANDLE_VALUE && ReadSome(input, data);
    std::lock_guard<std::mutex> lock(self->mutex);
    self->read += data;
    self->ended = !more;
    self->busy = false;
    if (self->wake != nullptr) self->wake->Signal();
    if (!more) return;
  }
}

}  // namespace

LineReader::LineReader(int fd, bool ownsFd, std::size_t maxLine)
    : fd_(fd), ownsFd_(ownsFd), maxLine_(maxLine) {
  if (fd_ < 0) eof_ = true;
}

LineReader::~LineReader() {
  if (!background_) {
    if (ownsFd_ && fd_ >= 0) ::_close(fd_);
    return;
  }
  bool reading = false;
  {
    std::lock_guard<std::mutex> lock(background_->mutex);
    background_->stopping = true;
    background_->wake = nullptr;
    reading = background_->busy;
  }
  background_->asked.notify_all();
  // A thread inside a read may wait for input for ever: it is left to end with that
  // read (or with the process) and then lets go of what it shares; the descriptor
  // is closed when both have let go.
  if (!background_->thread.joinable()) return;
  if (reading) {
    background_->thread.detach();
  } else {
    background_->thread.join();
  }
}

void LineReader::SetWakeSignal(WakeSignal* wake) {
  if (!background_) background_ = std::make_shared<Background>(fd_, ownsFd_);
  std::lock_guard<std::mutex> lock(background_->mutex);
  background_->wake = wake;
}

bool LineReader::Fill() {
  if (eof_) return true;
  if (!background_) background_ = std::make_shared<Background>(fd_, ownsFd_);
  Background& shared = *background_;
  std::string data;
  bool ended = false;
  bool ask = false;
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    data.swap(shared.read);
    ended = shared.ended;
    if (data.empty() && !ended && !shared.busy) {
      shared.busy = true;
      ask = true;
      if (!shared.thread.joinable()) shared.thread = std::thread([self = background_] { ReadOn(self); });
    }
  }
  if (ask) shared.asked.notify_all();
  if (!data.empty()) Take(data);
  if (ended) eof_ = true;
  return !data.empty() || ended;
}

}  // namespace qmhost
