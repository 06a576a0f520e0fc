#include "muxsim_process.h"

namespace muxsim_test {

namespace {

testsupport::Process::Options MuxsimOptions() {
    testsupport::Process::Options options;
    options.wait = 10s;
    options.requireCleanExit = true;
    return options;
}

}  // namespace

MuxsimProcess::MuxsimProcess(const std::vector<std::string>& args)
    : Process(testsupport::BinDir() + "/muxsim", args, MuxsimOptions()) {}

std::unique_ptr<MuxsimProcess> MuxsimProcess::Listening(const std::filesystem::path& cert_dir,
                                                        const std::vector<std::string>& extra) {
    std::vector<std::string> args = {"--make-certs", cert_dir.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    auto process = std::make_unique<MuxsimProcess>(args);
    const Json listening = process->WaitEvent("listening");
    if (!listening.is_null()) process->port_ = listening["port"].get<int>();
    return process;
}

}  // namespace muxsim_test
