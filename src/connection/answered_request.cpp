#include "connection/answered_request.h"

#include <cstring>
#include <memory>

#include "hashtable.h"
#include "plugin/process_state.h"

namespace vantiro {

namespace {

// The stored record, as the writer lays it out: command and id as terminated texts
// in fixed fields, then the send time.
struct StoredRecord {
  char command[128];
  char id[68];
  std::int32_t sentTime;
  std::uint16_t sentMillis;
};

// A terminated text from a fixed field, stopping at the field's end even when the
// stored bytes lack the terminator.
std::string FieldText(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }

}  // namespace

std::optional<AnsweredRequest> FindSentPacket(const char* id) {
  if (id == nullptr) return std::nullopt;
  const std::shared_ptr<SentPacketTable> table = State().SentPackets();
  if (!table) return std::nullopt;
  StoredRecord record{};
  {
    qmos::CriticalSectionGuard guard(table->lock);
    int count = 0;
    const void* bytes = HT_get_binary(table->table, id, &count);
    if (bytes == nullptr || count < static_cast<int>(sizeof record)) return std::nullopt;
    std::memcpy(&record, bytes, sizeof record);
  }
  AnsweredRequest request;
  request.command = FieldText(record.command, sizeof record.command);
  request.id = FieldText(record.id, sizeof record.id);
  request.sentTime = record.sentTime;
  request.sentMillis = record.sentMillis;
  return request;
}

void ForgetSentPacket(const char* id) {
  if (id == nullptr) return;
  const std::shared_ptr<SentPacketTable> table = State().SentPackets();
  if (!table) return;
  qmos::CriticalSectionGuard guard(table->lock);
  HT_remove(table->table, id, 0);
}

}  // namespace vantiro
