// An open-addressing hash table (linear probing, backward-shift removal) from string
// keys to string or byte-block values. Entries live in their own allocations, so the
// value and key pointers handed out stay put while the slot array grows or shifts.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantiro::hashtable {

enum class ValueKind { kString, kBinary };

class KeyValueTable {
public:
    explicit KeyValueTable(std::size_t size_hint);
    ~KeyValueTable();
    KeyValueTable(const KeyValueTable&) = delete;
    KeyValueTable& operator=(const KeyValueTable&) = delete;

    // Stores a copy of `size` bytes under `key`; a string also gets a terminating NUL.
    // Throws std::bad_alloc when memory runs out, leaving the table unchanged.
    void Put(std::string_view key, ValueKind kind, const void* data, std::size_t size);

    // The stored bytes when `key` holds a value of `kind`, else nullptr.
    const void* Get(std::string_view key, ValueKind kind, std::size_t* size) const;

    bool Remove(std::string_view key);

    // A snapshot of the keys followed by nullptr, kept until the next call.
    const std::vector<const char*>& Keys();

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return slots_.size(); }

private:
    struct Entry;
    struct Slot {
        std::unique_ptr<Entry> entry;
        std::size_t hash = 0;
    };

    static std::size_t HashOf(std::string_view key);
    std::size_t FindIndex(std::string_view key, std::size_t hash) const;  // npos if absent
    void Insert(std::vector<Slot>& slots, Slot slot);
    void GrowIfFull();

    std::vector<Slot> slots_;  // size is a power of two
    std::size_t size_ = 0;
    std::vector<const char*> keys_;  // what Keys() last returned
};

}  // namespace vantiro::hashtable
