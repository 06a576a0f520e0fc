// The C interface of the key-value table library over KeyValueTable.
#include "hashtable.h"

#include <climits>
#include <cstring>
#include <new>

#include "key_value_table.h"

using vantiro::hashtable::KeyValueTable;
using vantiro::hashtable::ValueKind;

struct HT_Table {
    explicit HT_Table(std::size_t hint) : table(hint) {}
    KeyValueTable table;
};

extern "C" {

HASHTABLE* HT_create(int sizeHint, int /*flags*/) {
    try {
        return new HT_Table(sizeHint > 0 ? static_cast<std::size_t>(sizeHint) : 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int HT_put_str(HASHTABLE* t, const char* key, const char* value) {
    if (!t || !key || !value) return -1;
    try {
        t->table.Put(key, ValueKind::kString, value, std::strlen(value));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

const char* HT_get_str(HASHTABLE* t, const char* key) {
    if (!t || !key) return nullptr;
    return static_cast<const char*>(t->table.Get(key, ValueKind::kString, nullptr));
}

int HT_put_binary(HASHTABLE* t, const char* key, const void* bytes, int count) {
    if (!t || !key || count < 0 || (!bytes && count > 0)) return -1;
    try {
        t->table.Put(key, ValueKind::kBinary, bytes, static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

const void* HT_get_binary(HASHTABLE* t, const char* key, int* count) {
    if (count) *count = 0;
    if (!t || !key) return nullptr;
    std::size_t size = 0;
    const void* bytes = t->table.Get(key, ValueKind::kBinary, &size);
    if (bytes && count) *count = static_cast<int>(size);  // stored from an int count
    return bytes;
}

const char** HT_keys(HASHTABLE* t, int* count) {
    if (count) *count = 0;
    if (!t) return nullptr;
    try {
        const auto& keys = t->table.Keys();
        if (count) *count = static_cast<int>(keys.size() - 1);
        return const_cast<const char**>(keys.data());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int HT_remove(HASHTABLE* t, const char* key, int /*flags*/) {
    if (!t || !key) return -1;
    return t->table.Remove(key) ? 0 : -1;
}

void HT_destroy(HASHTABLE* t) { delete t; }

}  // extern "C"
