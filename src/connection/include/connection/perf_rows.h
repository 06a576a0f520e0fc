// The performance log's rows of the reader: one per answer to a recorded request,
// one per relayed notice. The reader calls them while PerfLogEnabled is on.
#pragma once

#include "packet.h"

namespace vantiro {

struct SentPacketRecord;

// The answer row of record: sent when the writer recorded it, received now.
void LogAnswerTime(const SentPacketRecord& record);

// The activity row of a received notice: its "id", "command - activity", the time
// stamped in "time_t" and "millitm" (0 when missing or not a number), received now.
void LogActivityTime(PACKET packet);

}  // namespace vantiro
