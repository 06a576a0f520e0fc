#include "key_value_table.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <functional>

namespace vantiro::hashtable {
namespace {

constexpr std::size_t kNpos = static_cast<std::size_t>(-1);
constexpr std::size_t kMinCapacity = 8;
// Largest hint honoured up front; bigger tables come from growth as entries arrive.
constexpr std::size_t kMaxHintedEntries = std::size_t{1} << 20;

// A value's bytes in storage aligned for any type, with room for a terminating NUL
// (so that an empty byte block still has an address).
class ValueBlock {
public:
    ValueBlock(const void* data, std::size_t size)
        : units_(std::make_unique<std::max_align_t[]>(size / sizeof(std::max_align_t) + 1)),
          size_(size) {
        auto* bytes = reinterpret_cast<char*>(units_.get());
        if (size) std::memcpy(bytes, data, size);
        bytes[size] = '\0';
    }
    const void* data() const { return units_.get(); }
    std::size_t size() const { return size_; }

private:
    std::unique_ptr<std::max_align_t[]> units_;
    std::size_t size_;
};

}  // namespace

struct KeyValueTable::Entry {
    std::string key;
    ValueKind kind;
    ValueBlock value;
};

KeyValueTable::KeyValueTable(std::size_t size_hint) {
    const std::size_t wanted = std::min(size_hint, kMaxHintedEntries) * 4 / 3 + 1;
    slots_.resize(std::bit_ceil(std::max(wanted, kMinCapacity)));
}

KeyValueTable::~KeyValueTable() = default;

std::size_t KeyValueTable::HashOf(std::string_view key) { return std::hash<std::string_view>{}(key); }

std::size_t KeyValueTable::FindIndex(std::string_view key, std::size_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (!slot.entry) return kNpos;
        if (slot.hash == hash && slot.entry->key == key) return i;
    }
}

void KeyValueTable::Insert(std::vector<Slot>& slots, Slot slot) {
    const std::size_t mask = slots.size() - 1;
    std::size_t i = slot.hash & mask;
    while (slots[i].entry) i = (i + 1) & mask;
    slots[i] = std::move(slot);
}

void KeyValueTable::GrowIfFull() {
    // Keep the load at or below three quarters.
    if ((size_ + 1) * 4 <= slots_.size() * 3) return;
    std::vector<Slot> bigger(slots_.size() * 2);
    for (Slot& slot : slots_) {
        if (slot.entry) Insert(bigger, std::move(slot));
    }
    slots_.swap(bigger);
}

void KeyValueTable::Put(std::string_view key, ValueKind kind, const void* data, std::size_t size) {
    ValueBlock value(data, size);  // copied before anything changes: data may be ours
    const std::size_t hash = HashOf(key);
    const std::size_t index = FindIndex(key, hash);
    if (index != kNpos) {
        Entry& entry = *slots_[index].entry;
        entry.kind = kind;
        entry.value = std::move(value);
        return;
    }
    auto entry = std::make_unique<Entry>(Entry{std::string(key), kind, std::move(value)});
    GrowIfFull();
    Insert(slots_, Slot{std::move(entry), hash});
    ++size_;
}

const void* KeyValueTable::Get(std::string_view key, ValueKind kind, std::size_t* size) const {
    const std::size_t index = FindIndex(key, HashOf(key));
    if (index == kNpos || slots_[index].entry->kind != kind) return nullptr;
    const ValueBlock& value = slots_[index].entry->value;
    if (size) *size = value.size();
    return value.data();
}

bool KeyValueTable::Remove(std::string_view key) {
    std::size_t hole = FindIndex(key, HashOf(key));
    if (hole == kNpos) return false;
    slots_[hole].entry.reset();  // `key` may point into this entry: not used from here on
    --size_;
    // Backward shift: pull later members of the probe run into the hole so that every
    // entry stays reachable from its home slot without tombstones.
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t j = (hole + 1) & mask; slots_[j].entry; j = (j + 1) & mask) {
        const std::size_t home = slots_[j].hash & mask;
        const bool home_between = hole <= j ? (hole < home && home <= j)
                                            : (hole < home || home <= j);
        if (home_between) continue;
        slots_[hole] = std::move(slots_[j]);
        hole = j;
    }
    return true;
}

const std::vector<const char*>& KeyValueTable::Keys() {
    std::vector<const char*> keys;
    keys.reserve(size_ + 1);
    for (const Slot& slot : slots_) {
        if (slot.entry) keys.push_back(slot.entry->key.c_str());
    }
    keys.push_back(nullptr);
    keys_.swap(keys);
    return keys_;
}

}  // namespace vantiro::hashtable
