// The sent-packet table: one record per packet written to the multiplexor and not yet
// answered, keyed by the packet's id. The writer adds a record just before it writes
// a packet; the reader looks the record up when the answer with the same id arrives,
// and removes it. The table and its re-entrant lock (sentPacketsLock) belong to the
// process state; every access here holds the lock, and nobody uses the table's stored
// bytes outside it. When the plug-in has given the table up (Terminate), every
// operation does nothing and a look-up finds nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packet.h"

namespace vantiro {

// The stored value, kept as a byte block of its full size.
struct SentPacketRecord {
  char command[128];       // the packet's "command", a terminated text
  char id[68];             // the packet's "id", the same as the key
  std::int32_t sentTime;   // whole seconds since 1970-01-01 00:00 UTC
  std::uint16_t sentMillis;  // milliseconds within that second, 0 to 999
};

// Records the packet under its id with the current time. A command or an id longer
// than its field is cut to fit (every command the plug-in sends fits).
void AddSentPacket(PACKET packet);
// Removes the packet's record, if any.
void RemoveSentPacket(PACKET packet);
// Removes every record.
void ClearSentPackets();

// Copies the record of id into record; false when there is none.
bool LookUpSentPacket(const std::string& id, SentPacketRecord& record);
// Removes the record of id; false when there was none.
bool RemoveSentPacketId(const std::string& id);
// The ids in the table (diagnostics and tests).
std::vector<std::string> SentPacketIds();

}  // namespace vantiro
