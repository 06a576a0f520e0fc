#include "qmhost/main_loop.h"

#include "qmhost/command.h"
#include "qmhost/event_writer.h"
#include "qmhost/plugin_host.h"
#include "qmhost/wake_signal.h"
#include "qmos/application.h"
#include "qmos/clock.h"

namespace qmhost {

MainLoop::MainLoop(PluginHost& host, EventWriter& events, WakeSignal& wake,
                   std::vector<std::unique_ptr<LineReader>> inputs)
    : host_(host), events_(events), wake_(wake), inputs_(std::move(inputs)) {
  for (auto& input : inputs_) input->SetWakeSignal(&wake_);
}

void MainLoop::Serve() {
  wake_.Drain();
  host_.DeliverPending();
  qmos::Application::Instance().ProcessMessages();
}

void MainLoop::RunLine(const std::string& line, bool& quit) {
  const ParsedLine parsed = ParseCommandLine(line);
  if (parsed.Ignored()) return;
  if (!parsed.command) {
    events_.Write("error", {{"message", "line " + std::to_string(lineNumber_) + ": " + parsed.error}});
    return;
  }
  const Command& command = *parsed.command;
  switch (command.kind) {
    case CommandKind::Quit:
      quit = true;
      return;
    case CommandKind::Wait:
      mode_ = Mode::Waiting;
      waitText_ = command.value;
      deadline_ = qmos::MonotonicMs() + command.number;
      return;
    case CommandKind::Sleep:
      mode_ = Mode::Sleeping;
      deadline_ = qmos::MonotonicMs() + command.number;
      return;
    default:
      host_.Run(command);
  }
}

bool MainLoop::RunNextLine(bool& quit) {
  while (input_ < inputs_.size()) {
    LineReader& reader = *inputs_[input_];
    std::string line;
    switch (reader.NextLine(line)) {
      case LineReader::Next::Line:
        ++lineNumber_;
        RunLine(line, quit);
        return true;
      case LineReader::Next::Overlong:
        ++lineNumber_;
        events_.Write("error", {{"message", "line " + std::to_string(lineNumber_) +
                                                ": too long; ignored"}});
        return true;
      case LineReader::Next::None:
        if (!reader.AtEnd()) return false;
        ++input_;  // this input is done: go on with the next one
        break;
    }
  }
  quit = true;  // end of input
  return true;
}

int MainLoop::Run() {
  for (;;) {
    Serve();
    const std::int64_t now = qmos::MonotonicMs();
    if (mode_ == Mode::Waiting) {
      if (events_.ConsumeMatch(waitText_)) {
        mode_ = Mode::Reading;
      } else if (now >= deadline_) {
        events_.Write("wait_timeout", {{"text", waitText_}});
        return host_.Shutdown(kExitWaitTimeout);
      }
    }
    if (mode_ == Mode::Sleeping && now >= deadline_) mode_ = Mode::Reading;
    if (mode_ == Mode::Reading) {
      bool quit = false;
      if (RunNextLine(quit)) {
        if (quit) return host_.Shutdown(kExitOk);
        continue;  // serve before the next command
      }
    }
    WaitOnce();
  }
}

}  // namespace qmhost
