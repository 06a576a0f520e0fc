// An owned packet of the packet library, destroyed with its handle.
#pragma once

#include <memory>

#include "packet.h"

namespace vantiro {

struct PacketDeleter {
  void operator()(PH_Packet* packet) const { PH_destroy(packet); }
};
using PacketHandle = std::unique_ptr<PH_Packet, PacketDeleter>;

}  // namespace vantiro
