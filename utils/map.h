// Map is a hash map with separate chaining over a power-of-two bucket table whose
// size follows the number of entries (load factor at most 1; rebuilt on insert when
// entries exceed the buckets or fall below a quarter of them). Every item caches its
// key's hash, so a rehash never hashes again and lookups compare hashes first.
// Hashing and equality come from a Compare policy.
#ifndef NUBRIX_UTILS_MAP_H
#define NUBRIX_UTILS_MAP_H

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "utils/buffer.h"
#include "utils/object.h"
#include "utils/string.h"

namespace nubrix {

template <typename K>
struct Compare;

// String keys: the hash is hash_code() over the key's bytes. Two keys are equal only
// when their texts are equal; equal hashes alone never merge two keys.
template <typename T>
struct Compare<BasicString<T>> {
  static uint32_t hash(const BasicString<T>& key) { return key.hash_code(); }
  static bool equals(const BasicString<T>& a, const BasicString<T>& b, uint32_t ha, uint32_t hb) {
    return ha == hb && a == b;
  }
};

template <typename K>
struct Compare {
  static uint32_t hash(const K& key) {
    if constexpr (std::is_integral<K>::value || std::is_enum<K>::value) {
      if constexpr (sizeof(K) == 8) {
        uint64_t v = (uint64_t)key;
        return (uint32_t)(v >> 32) ^ (uint32_t)v;
      } else {
        return (uint32_t)(int64_t)key;
      }
    } else if constexpr (std::is_pointer<K>::value) {
      uint64_t v = (uint64_t)(uintptr_t)key;
      return (uint32_t)(v >> 32) ^ (uint32_t)v;
    } else {
      // Floating point: hash the bits of the value (0.0 and -0.0 compare equal).
      double d = (double)key;
      if (d == 0) d = 0;
      uint64_t v;
      memcpy(&v, &d, sizeof(v));
      return (uint32_t)(v >> 32) ^ (uint32_t)v;
    }
  }
  static bool equals(const K& a, const K& b, uint32_t, uint32_t) { return a == b; }
};

template <typename K, typename V, typename C = Compare<K>>
class Map : public Object {
 public:
  struct Item {
    K key;
    Item* next;
    Item* prev;
    V value;
    uint32_t hash;
    uint32_t flags;
  };
  struct Bucket {
    Item* first;
    Item* last;
  };

  class Iterator {
   public:
    Iterator(const Map* map, uint32_t bucket, Item* item)
        : map_(map), bucket_(bucket), item_(item) {}
    Item& operator*() const { return *item_; }
    Item* operator->() const { return item_; }
    const K& key() const { return item_->key; }
    V& value() const { return item_->value; }
    Iterator& operator++() {
      item_ = item_->next;
      if (!item_) advance_bucket(bucket_ + 1);
      return *this;
    }
    bool operator==(const Iterator& o) const { return item_ == o.item_; }
    bool operator!=(const Iterator& o) const { return item_ != o.item_; }

   private:
    friend class Map;
    void advance_bucket(uint32_t from) {
      for (bucket_ = from; bucket_ < map_->bucket_count_; bucket_++) {
        if (map_->buckets_[bucket_].first) {
          item_ = map_->buckets_[bucket_].first;
          return;
        }
      }
      item_ = nullptr;
    }
    const Map* map_;
    uint32_t bucket_;
    Item* item_;
  };

  Map() = default;
  Map(const Map& o) : Object() {
    for (auto it = o.begin(); it != o.end(); ++it) set(it.key(), it.value());
  }
  Map(Map&& o) noexcept : Object() { take(o); }
  Map& operator=(const Map& o) {
    if (this != &o) {
      Map tmp(o);
      *this = std::move(tmp);
    }
    return *this;
  }
  Map& operator=(Map&& o) noexcept {
    if (this != &o) {
      clear();
      take(o);
    }
    return *this;
  }
  ~Map() override { clear(); }

  [[nodiscard]] uint32_t length() const { return length_; }
  [[nodiscard]] uint32_t bucket_count() const { return bucket_count_; }

  Iterator begin() const {
    Iterator it(this, 0, nullptr);
    if (length_) it.advance_bucket(0);
    return it;
  }
  Iterator end() const { return Iterator(this, bucket_count_, nullptr); }

  // The value stored under key, or null.
  V* get(const K& key) const {
    Item* item = find_item(key);
    return item ? &item->value : nullptr;
  }
  [[nodiscard]] bool has(const K& key) const { return find_item(key) != nullptr; }

  // Get-or-insert: the value under key, default-constructed when new.
  V& operator[](const K& key) {
    if (length_) {
      uint32_t h = C::hash(key);
      if (Item* item = find_hashed(key, h)) return item->value;
      return insert(key, h)->value;
    }
    return insert(key, C::hash(key))->value;
  }
  V& set(const K& key, V value) {
    V& slot = (*this)[key];
    slot = std::move(value);
    return slot;
  }

  // Removes the entry under key; true when there was one. The table is resized only
  // on insert.
  bool remove(const K& key) {
    Item* item = find_item(key);
    if (!item) return false;
    Bucket& b = buckets_[item->hash & (bucket_count_ - 1)];
    if (item->prev)
      item->prev->next = item->next;
    else
      b.first = item->next;
    if (item->next)
      item->next->prev = item->prev;
    else
      b.last = item->prev;
    destroy_item(item);
    length_--;
    return true;
  }

  void clear() {
    for (uint32_t i = 0; i < bucket_count_; i++) {
      Item* item = buckets_[i].first;
      while (item) {
        Item* next = item->next;
        destroy_item(item);
        item = next;
      }
    }
    DefaultAllocator::free(buckets_);
    buckets_ = nullptr;
    bucket_count_ = 0;
    length_ = 0;
  }

 private:
  Item* find_item(const K& key) const {
    if (!length_) return nullptr;  // an empty map never touches its table
    return find_hashed(key, C::hash(key));
  }
  Item* find_hashed(const K& key, uint32_t h) const {
    for (Item* item = buckets_[h & (bucket_count_ - 1)].first; item; item = item->next) {
      if (C::equals(item->key, key, item->hash, h)) return item;
    }
    return nullptr;
  }

  Item* insert(const K& key, uint32_t h) {
    uint32_t n = checked_length(length_, 1);
    rehash(n);
    Item* item = (Item*)DefaultAllocator::alloc(sizeof(Item));
    new (&item->key) K(key);
    new (&item->value) V();
    item->hash = h;
    item->flags = 0;
    Bucket& b = buckets_[h & (bucket_count_ - 1)];
    item->prev = nullptr;
    item->next = b.first;
    if (b.first)
      b.first->prev = item;
    else
      b.last = item;
    b.first = item;
    length_ = n;
    return item;
  }

  void rehash(uint32_t n) {
    if (n == 0) {
      clear();
      return;
    }
    if (n < 8) n = 8;
    if (bucket_count_ >= n && !(n < bucket_count_ * 0.25)) return;
    uint32_t count = capacity_for(n);
    Bucket* table = (Bucket*)DefaultAllocator::alloc(sizeof(Bucket) * count);
    memset(table, 0, sizeof(Bucket) * count);
    for (uint32_t i = 0; i < bucket_count_; i++) {
      Item* item = buckets_[i].first;
      while (item) {
        Item* next = item->next;
        Bucket& b = table[item->hash & (count - 1)];
        item->next = nullptr;
        item->prev = b.last;
        if (b.last)
          b.last->next = item;
        else
          b.first = item;
        b.last = item;
        item = next;
      }
    }
    DefaultAllocator::free(buckets_);
    buckets_ = table;
    bucket_count_ = count;
  }

  static void destroy_item(Item* item) {
    item->key.~K();
    item->value.~V();
    DefaultAllocator::free(item);
  }

  void take(Map& o) {
    length_ = o.length_;
    bucket_count_ = o.bucket_count_;
    buckets_ = o.buckets_;
    o.length_ = 0;
    o.bucket_count_ = 0;
    o.buckets_ = nullptr;
  }

  uint32_t length_ = 0;
  uint32_t bucket_count_ = 0;
  Bucket* buckets_ = nullptr;
};

}  // namespace nubrix

#endif
