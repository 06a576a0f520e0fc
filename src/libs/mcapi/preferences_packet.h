// The mailbox server's packets: the get and put requests built from the object's
// credentials (and, for a put, a table of preferences), and the answer read back into
// a table. Preferences travel as fields "pref.KEY:VALUE".
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "hashtable.h"
#include "packet.h"

namespace vantiro::mcapi {

struct PacketDeleter {
  void operator()(PACKET packet) const { PH_destroy(packet); }
};
// One owner for a packet handle.
using Packet = std::unique_ptr<PH_Packet, PacketDeleter>;

inline constexpr const char* kGetCommand = "get_preferences";
inline constexpr const char* kPutCommand = "put_preferences";

// The request text: "command", "profile", "password" in that order, then, when
// preferences is given, "pref.KEY" for every string entry (byte blocks are not
// preferences and are left out). No "id" field is added. nullopt when a field cannot
// be carried (a key holding ':' or a line feed) or memory runs out: a request that
// would silently leave a preference out is not sent.
std::optional<std::string> BuildRequest(const char* command, const std::string& profile,
                                        const std::string& password, HASHTABLE* preferences);

// The answer's packet; null only when memory runs out.
Packet ParseAnswer(const std::string& text);

// The answer's "result" is "ok".
bool IsOk(PACKET answer);

// Stores each "pref.KEY" field of the answer into table under KEY (a field named
// "pref." alone carries no key and is skipped). False when the table refuses an
// entry (no memory).
bool StorePreferences(PACKET answer, HASHTABLE* table);

}  // namespace vantiro::mcapi
