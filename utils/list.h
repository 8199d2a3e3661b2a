// List is a doubly linked list whose nodes it owns. Nodes come from small blocks kept
// by the list and are recycled through a free list, so pushing costs no heap call in
// the common case; all blocks are freed with the list.
#ifndef NUBRIX_UTILS_LIST_H
#define NUBRIX_UTILS_LIST_H

#include <cstdint>
#include <utility>

#include "utils/buffer.h"
#include "utils/object.h"

namespace nubrix {

template <typename T>
class List : public Object {
 public:
  struct Node {
    T value;
    Node* prev;
    Node* next;
  };

  class Iterator {
   public:
    explicit Iterator(Node* n = nullptr) : node_(n) {}
    T& operator*() const { return node_->value; }
    T* operator->() const { return &node_->value; }
    Iterator& operator++() {
      node_ = node_->next;
      return *this;
    }
    Iterator& operator--() {
      node_ = node_->prev;
      return *this;
    }
    bool operator==(const Iterator& o) const { return node_ == o.node_; }
    bool operator!=(const Iterator& o) const { return node_ != o.node_; }
    [[nodiscard]] bool is_null() const { return node_ == nullptr; }
    Node* node() const { return node_; }

   private:
    Node* node_;
  };

  List() = default;
  List(const List&) = delete;
  List& operator=(const List&) = delete;
  List(List&& o) noexcept { take(o); }
  List& operator=(List&& o) noexcept {
    if (this != &o) {
      clear();
      free_blocks();
      take(o);
    }
    return *this;
  }
  ~List() override {
    clear();
    free_blocks();
  }

  [[nodiscard]] uint32_t length() const { return count_; }
  [[nodiscard]] bool is_empty() const { return count_ == 0; }
  Iterator begin() const { return Iterator(first_); }
  Iterator end() const { return Iterator(nullptr); }
  Iterator first() const { return Iterator(first_); }
  Iterator last() const { return Iterator(last_); }

  Iterator push(const T& value) {
    return link_after(last_, new (take_node()) Node{value, nullptr, nullptr});
  }
  Iterator push(T&& value) {
    return link_after(last_, new (take_node()) Node{std::move(value), nullptr, nullptr});
  }
  Iterator unshift(T&& value) {
    return link_after(nullptr, new (take_node()) Node{std::move(value), nullptr, nullptr});
  }
  Iterator unshift(const T& value) {
    return link_after(nullptr, new (take_node()) Node{value, nullptr, nullptr});
  }
  // Inserts before `it` (at the end when `it` is end()).
  Iterator insert(Iterator it, T&& value) {
    Node* n = new (take_node()) Node{std::move(value), nullptr, nullptr};
    return link_after(it.is_null() ? last_ : it.node()->prev, n);
  }

  // Removes the node at `it` and returns the iterator to the node after it.
  Iterator erase(Iterator it) {
    Node* n = it.node();
    if (!n) return end();
    Node* next = n->next;
    if (n->prev)
      n->prev->next = n->next;
    else
      first_ = n->next;
    if (n->next)
      n->next->prev = n->prev;
    else
      last_ = n->prev;
    count_--;
    n->value.~T();
    give_node(n);
    return Iterator(next);
  }

  // Removes and returns the first value; an empty list gives a default value.
  T shift() {
    if (!first_) return T();
    T v(std::move(first_->value));
    erase(Iterator(first_));
    return v;
  }

  void clear() {
    Node* n = first_;
    while (n) {
      Node* next = n->next;
      n->value.~T();
      give_node(n);
      n = next;
    }
    first_ = last_ = nullptr;
    count_ = 0;
  }

 protected:
  Iterator link_after(Node* prev, Node* n) {
    if (count_ == kMaxLength) {
      n->value.~T();
      give_node(n);
      throw_length_overflow((uint64_t)count_ + 1);
    }
    n->prev = prev;
    n->next = prev ? prev->next : first_;
    if (n->next)
      n->next->prev = n;
    else
      last_ = n;
    if (prev)
      prev->next = n;
    else
      first_ = n;
    count_++;
    return Iterator(n);
  }

 private:
  // Chunks start small and double up to 1024 nodes, so short lists stay cheap.
  static constexpr uint32_t kMaxChunkNodes = 1024;
  union Slot {
    Slot* next_free;
    alignas(Node) unsigned char node[sizeof(Node)];
  };
  struct Chunk {
    Chunk* next;
    Slot slots[1];
  };

  void* take_node() {
    if (!free_) {
      uint32_t n = chunk_nodes_;
      if (chunk_nodes_ < kMaxChunkNodes) chunk_nodes_ *= 2;
      Chunk* c = (Chunk*)DefaultAllocator::alloc(sizeof(Chunk) + (n - 1) * sizeof(Slot));
      c->next = chunks_;
      chunks_ = c;
      for (uint32_t i = n; i > 0; i--) {
        c->slots[i - 1].next_free = free_;
        free_ = &c->slots[i - 1];
      }
    }
    Slot* s = free_;
    free_ = s->next_free;
    return s->node;
  }
  void give_node(Node* n) {
    Slot* s = (Slot*)(void*)n;
    s->next_free = free_;
    free_ = s;
  }
  void free_blocks() {
    while (chunks_) {
      Chunk* next = chunks_->next;
      DefaultAllocator::free(chunks_);
      chunks_ = next;
    }
    free_ = nullptr;
    chunk_nodes_ = 4;
  }
  void take(List& o) {
    first_ = o.first_;
    last_ = o.last_;
    count_ = o.count_;
    chunks_ = o.chunks_;
    free_ = o.free_;
    chunk_nodes_ = o.chunk_nodes_;
    o.chunk_nodes_ = 4;
    o.first_ = o.last_ = nullptr;
    o.count_ = 0;
    o.chunks_ = nullptr;
    o.free_ = nullptr;
  }

  Node* first_ = nullptr;
  Node* last_ = nullptr;
  uint32_t count_ = 0;
  Chunk* chunks_ = nullptr;
  Slot* free_ = nullptr;
  uint32_t chunk_nodes_ = 4;
};

}  // namespace nubrix

#endif
