#include "packet_id.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "process_identity.h"

namespace vantiro::packet {
namespace {

struct IdSource;
IdSource& Source();

struct IdSource {
    std::uint64_t start_micros = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now().time_since_epoch())
            .count());
    std::atomic<std::uint64_t> serial{0};
    // The process id, read once and again in a forked child (so that a child does
    // not repeat its parent's ids) rather than asked of the system for every id.
    std::atomic<std::uint64_t> pid{CurrentProcessId()};

    IdSource() {
        RefreshAfterFork([] { Source().pid.store(CurrentProcessId()); });
    }
};

IdSource& Source() {
    static IdSource source;  // the id state of this process
    return source;
}

}  // namespace

void InitPacketIds() { (void)Source(); }

std::string NewPacketId() {
    IdSource& source = Source();
    const std::uint64_t serial = source.serial.fetch_add(1, std::memory_order_relaxed) + 1;
    // At most 16 + 1 + 16 + 1 + 16 characters.
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, "%llx-%llx-%llx",
                                     static_cast<unsigned long long>(source.pid.load(std::memory_order_relaxed)),
                                     static_cast<unsigned long long>(source.start_micros),
                                     static_cast<unsigned long long>(serial));
    return std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace vantiro::packet
