#include "connection/sent_packets.h"

#include <cstring>
#include <memory>

#include "hashtable.h"
#include "qmos/clock.h"
#include "qmos/critical_section.h"
#include "state/process_state.h"

namespace vantiro {

namespace {

// Copies text into a field of size bytes, cut to fit and always terminated.
void CopyField(char* field, std::size_t size, const char* text) {
  std::memset(field, 0, size);
  if (text != nullptr) std::strncpy(field, text, size - 1);
}

}  // namespace

void AddSentPacket(PACKET packet) {
  const char* id = PH_valueOf(packet, "id");
  if (id == nullptr) return;  // only a built packet has one
  SentPacketRecord record;
  std::memset(&record, 0, sizeof record);  // the stored block has no stray bytes
  const std::int64_t now = qmos::WallClockMs();
  record.sentTime = static_cast<std::int32_t>(now / 1000);
  record.sentMillis = static_cast<std::uint16_t>(now % 1000);
  CopyField(record.command, sizeof record.command, PH_valueOf(packet, "command"));
  CopyField(record.id, sizeof record.id, id);

  const std::shared_ptr<SentPacketTable> sent = State().SentPackets();
  if (!sent) return;
  qmos::CriticalSectionGuard guard(sent->lock);
  // The key is the id as the packet carries it: answers quote it whole.
  HT_put_binary(sent->table, id, &record, static_cast<int>(sizeof record));
}

void RemoveSentPacket(PACKET packet) {
  const char* id = PH_valueOf(packet, "id");
  if (id != nullptr) RemoveSentPacketId(id);
}

void ClearSentPackets() {
  const std::shared_ptr<SentPacketTable> sent = State().SentPackets();
  if (!sent) return;
  qmos::CriticalSectionGuard guard(sent->lock);
  // The key array stays put while its entries go (the table's contract).
  const char** keys = HT_keys(sent->table, nullptr);
  if (keys == nullptr) return;
  for (const char** key = keys; *key != nullptr; ++key) HT_remove(sent->table, *key, 0);
}

bool LookUpSentPacket(const std::string& id, SentPacketRecord& record) {
  const std::shared_ptr<SentPacketTable> sent = State().SentPackets();
  if (!sent) return false;
  qmos::CriticalSectionGuard guard(sent->lock);
  int count = 0;
  const void* bytes = HT_get_binary(sent->table, id.c_str(), &count);
  if (bytes == nullptr || count != static_cast<int>(sizeof record)) return false;
  std::memcpy(&record, bytes, sizeof record);
  return true;
}

bool RemoveSentPacketId(const std::string& id) {
  const std::shared_ptr<SentPacketTable> sent = State().SentPackets();
  if (!sent) return false;
  qmos::CriticalSectionGuard guard(sent->lock);
  return HT_remove(sent->table, id.c_str(), 0) == 0;
}

std::vector<std::string> SentPacketIds() {
  std::vector<std::string> ids;
  const std::shared_ptr<SentPacketTable> sent = State().SentPackets();
  if (!sent) return ids;
  qmos::CriticalSectionGuard guard(sent->lock);
  const char** keys = HT_keys(sent->table, nullptr);
  for (const char** key = keys; key != nullptr && *key != nullptr; ++key) ids.emplace_back(*key);
  return ids;
}

}  // namespace vantiro
