// Throughput of the hot-path libraries: packet build and parse, key-value tables at a
// million entries, and frame encoding.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame.h"
#include "hashtable.h"
#include "packet.h"

namespace {

PACKET MakeRequest() {
    PACKET p = PH_create_empty();
    PH_add(p, "command", "call_hold");
    PH_add(p, "profile", "4711");
    PH_add(p, "password", "12345678");
    PH_add(p, "call_id", "0007-1234-abcd");
    PH_add(p, "line", "3");
    return p;
}

void BM_PacketBuild(benchmark::State& state) {
    PH_init();
    for (auto _ : state) {
        PACKET p = MakeRequest();
        int length = 0;
        benchmark::DoNotOptimize(PH_build_packet(p, &length));
        PH_destroy(p);
    }
}
BENCHMARK(BM_PacketBuild);

void BM_PacketParse(benchmark::State& state) {
    PACKET request = MakeRequest();
    PH_add(request, "result", "ok");
    int length = 0;
    const std::string text = PH_build_packet(request, &length);
    PH_destroy(request);
    for (auto _ : state) {
        PACKET p = PH_create(text.c_str(), static_cast<int>(text.size()));
        benchmark::DoNotOptimize(PH_valueOf(p, "id"));
        benchmark::DoNotOptimize(PH_valueOf(p, "result"));
        PH_destroy(p);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_PacketParse);

std::vector<std::string> Keys(int n) {
    std::vector<std::string> keys;
    keys.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) keys.push_back("1a2b-5f3e9c0d1e2f3-" + std::to_string(i));
    return keys;
}

struct Record {
    char command[128];
    char id[68];
    int sentTime;
    unsigned short sentMillis;
};

// Put, get and remove of n entries in a table that starts from the sent-packet hint.
void BM_TablePutGetRemove(benchmark::State& state) {
    const auto keys = Keys(static_cast<int>(state.range(0)));
    Record record{};
    std::strcpy(record.command, "call_hold");
    for (auto _ : state) {
        HASHTABLE* t = HT_create(100, 0);
        for (const auto& key : keys) HT_put_binary(t, key.c_str(), &record, sizeof record);
        for (const auto& key : keys) benchmark::DoNotOptimize(HT_get_binary(t, key.c_str(), nullptr));
        for (const auto& key : keys) HT_remove(t, key.c_str(), 0);
        HT_destroy(t);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * keys.size() * 3));
}
BENCHMARK(BM_TablePutGetRemove)->Arg(1000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Look-ups in a table holding a million entries.
void BM_TableGetAtMillion(benchmark::State& state) {
    const auto keys = Keys(1'000'000);
    HASHTABLE* t = HT_create(100, 0);
    for (const auto& key : keys) HT_put_str(t, key.c_str(), "v");
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(HT_get_str(t, keys[i].c_str()));
        i = (i + 7919) % keys.size();
    }
    HT_destroy(t);
}
BENCHMARK(BM_TableGetAtMillion);

void BM_FrameEncode(benchmark::State& state) {
    const std::string text(static_cast<std::size_t>(state.range(0)), 'x');
    for (auto _ : state) benchmark::DoNotOptimize(vantiro::EncodeFrame(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FrameEncode)->Arg(120)->Arg(64 * 1024);

}  // namespace

BENCHMARK_MAIN();
