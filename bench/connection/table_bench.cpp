// The sent-packet table's operations as the writer and the reader use them (add a
// built packet's record, look a record up by id, remove it by id), with the table
// already holding 1,000 or 1,000,000 records. Each iteration does a batch of 10,000
// operations; items per second is operations per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "connection/sent_packets.h"
#include "packet.h"
#include "state/process_state.h"

namespace {

constexpr int kBatch = 10000;

struct PacketDeleter {
  void operator()(PH_Packet* packet) const { PH_destroy(packet); }
};
using Packet = std::unique_ptr<PH_Packet, PacketDeleter>;

// A call_hold request as the writer records it: built, so it carries its own id.
Packet BuiltRequest() {
  Packet packet(PH_create_empty());
  PH_add(packet.get(), "profile", "1234");
  PH_add(packet.get(), "password", "11112222");
  PH_add(packet.get(), "command", "call_hold");
  PH_add(packet.get(), "call_id", "17");
  PH_build_packet(packet.get(), nullptr);
  return packet;
}

// A table in the process state holding size records; returns some of their ids
// (every hundredth) for look-ups. The benchmarks leave the table as they found it,
// so a table of the same size is filled once.
std::vector<std::string> FreshTable(std::int64_t size) {
  static std::int64_t filled = -1;
  static std::vector<std::string> sample;
  if (filled == size) return sample;
  filled = size;
  sample.clear();
  vantiro::State().SetSentPackets(std::make_shared<vantiro::SentPacketTable>());
  for (std::int64_t i = 0; i < size; ++i) {
    const Packet packet = BuiltRequest();
    vantiro::AddSentPacket(packet.get());
    if (i % 100 == 0) sample.emplace_back(PH_valueOf(packet.get(), "id"));
  }
  return sample;
}

std::vector<Packet> Batch() {
  std::vector<Packet> batch;
  for (int i = 0; i < kBatch; ++i) batch.push_back(BuiltRequest());
  return batch;
}

void Add(benchmark::State& state) {
  FreshTable(state.range(0));
  const std::vector<Packet> batch = Batch();
  for (auto _ : state) {
    for (const Packet& packet : batch) vantiro::AddSentPacket(packet.get());
    state.PauseTiming();
    for (const Packet& packet : batch) vantiro::RemoveSentPacket(packet.get());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void Lookup(benchmark::State& state) {
  const std::vector<std::string> resident = FreshTable(state.range(0));
  std::vector<std::string> ids;
  std::mt19937 random(7);
  std::uniform_int_distribution<std::size_t> pick(0, resident.size() - 1);
  for (int i = 0; i < kBatch; ++i) ids.push_back(resident[pick(random)]);
  vantiro::SentPacketRecord record{};
  for (auto _ : state) {
    for (const std::string& id : ids) benchmark::DoNotOptimize(vantiro::LookUpSentPacket(id, record));
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

void Remove(benchmark::State& state) {
  FreshTable(state.range(0));
  const std::vector<Packet> batch = Batch();
  std::vector<std::string> ids;
  for (const Packet& packet : batch) ids.emplace_back(PH_valueOf(packet.get(), "id"));
  for (auto _ : state) {
    state.PauseTiming();
    for (const Packet& packet : batch) vantiro::AddSentPacket(packet.get());
    state.ResumeTiming();
    for (const std::string& id : ids) benchmark::DoNotOptimize(vantiro::RemoveSentPacketId(id));
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

BENCHMARK(Add)->Name("SentTable/add")->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Lookup)->Name("SentTable/lookup")->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Remove)->Name("SentTable/remove")->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
