// Growable storage: Container (object elements), BufferContainer (plain values,
// optionally weak or shrinkable) and Array over either. ArrayBuffer<T> is an Array
// over BufferContainer<T>; Buffer is ArrayBuffer<char>.
//
// Capacity rule: a request for n > 0 elements gets the smallest power of two that is
// at least max(n, 8). Storage is reallocated when it is too small, or when the need
// falls below a quarter of the capacity (buffers only when their shrink flag is set).
// Lengths are 32-bit; a request at or above 2^31 elements is refused with an Error
// instead of wrapping.
#ifndef NUBRIX_UTILS_BUFFER_H
#define NUBRIX_UTILS_BUFFER_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "utils/check.h"
#include "utils/object.h"

namespace nubrix {

// The largest element count any container, string or builder may hold.
constexpr uint32_t kMaxLength = 0x7fffffffu;

[[noreturn]] void throw_out_of_memory(size_t bytes);
[[noreturn]] void throw_length_overflow(uint64_t count);

// Smallest power of two >= max(n, 8); 0 for n == 0. A request of 2^31 elements or
// more is refused with an Error.
inline uint32_t capacity_for(uint64_t n) {
  if (n == 0) return 0;
  if (n > kMaxLength) throw_length_overflow(n);
  uint32_t c = 8;
  while (c < n) c <<= 1;
  return c;
}

// Checked element count: a + b, refused when it exceeds kMaxLength.
inline uint32_t checked_length(uint64_t a, uint64_t b = 0) {
  uint64_t n = a + b;
  if (n > kMaxLength) throw_length_overflow(n);
  return (uint32_t)n;
}

struct DefaultAllocator {
  static void* alloc(size_t size) {
    void* p = ::malloc(size ? size : 1);
    if (!p) throw_out_of_memory(size);
    return p;
  }
  static void* realloc(void* ptr, size_t size) {
    void* p = ::realloc(ptr, size ? size : 1);
    if (!p) throw_out_of_memory(size);
    return p;
  }
  static void free(void* ptr) { ::free(ptr); }
};

// Elements that may be moved in memory with realloc. Types holding pointers into
// themselves (or pointed at from elsewhere) must not be listed.
template <typename T>
struct is_relocatable : std::is_trivially_copyable<T> {};

template <typename T, typename A = DefaultAllocator>
class Container {
 public:
  explicit Container(uint32_t n = 0) : capacity_(0), data_(nullptr) {
    if (n) {
      capacity_ = capacity_for(n);
      data_ = (T*)A::alloc((size_t)capacity_ * sizeof(T));
    }
  }
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;
  Container(Container&& o) noexcept : capacity_(o.capacity_), data_(o.data_) {
    o.capacity_ = 0;
    o.data_ = nullptr;
  }
  Container& operator=(Container&& o) noexcept {
    if (this != &o) {
      free();
      capacity_ = o.capacity_;
      data_ = o.data_;
      o.capacity_ = 0;
      o.data_ = nullptr;
    }
    return *this;
  }
  ~Container() { free(); }

  [[nodiscard]] uint32_t capacity() const { return capacity_; }
  [[nodiscard]] T* data() const { return data_; }

  // Makes room for n elements, of which the first `live` are constructed and must be
  // kept. Elements that are not relocatable are move-constructed into the new block.
  void resize(uint32_t n, uint32_t live) {
    uint32_t need = n < 8 ? 8 : n;
    if (capacity_ >= need && !(need < capacity_ * 0.25)) return;
    uint32_t cap = capacity_for(need);
    if (cap == capacity_) return;
    if (!data_) {
      data_ = (T*)A::alloc((size_t)cap * sizeof(T));
    } else if (is_relocatable<T>::value) {
      data_ = (T*)A::realloc(data_, (size_t)cap * sizeof(T));
    } else {
      T* block = (T*)A::alloc((size_t)cap * sizeof(T));
      for (uint32_t i = 0; i < live; i++) {
        new (block + i) T(std::move(data_[i]));
        data_[i].~T();
      }
      A::free(data_);
      data_ = block;
    }
    capacity_ = cap;
  }

  void free() {
    if (data_) A::free(data_);
    data_ = nullptr;
    capacity_ = 0;
  }

  // Hands the block over to the caller; the container is left empty.
  T* collapse() {
    T* d = data_;
    data_ = nullptr;
    capacity_ = 0;
    return d;
  }

 private:
  uint32_t capacity_;
  T* data_;
};

template <typename T, typename A = DefaultAllocator>
class BufferContainer {
 public:
  explicit BufferContainer(uint32_t n = 0)
      : capacity_(0), data_(nullptr), weak_(false), shrink_(false) {
    if (n) {
      capacity_ = capacity_for(n);
      data_ = (T*)A::alloc((size_t)capacity_ * sizeof(T));
    }
  }
  BufferContainer(const BufferContainer&) = delete;
  BufferContainer& operator=(const BufferContainer&) = delete;
  BufferContainer(BufferContainer&& o) noexcept
      : capacity_(o.capacity_), data_(o.data_), weak_(o.weak_), shrink_(o.shrink_) {
    o.capacity_ = 0;
    o.data_ = nullptr;
    o.weak_ = false;
  }
  // Frees the own block (unless weak), then takes everything of the other,
  // its weak flag included, so a moved weak block is never freed by its new holder.
  BufferContainer& operator=(BufferContainer&& o) noexcept {
    if (this != &o) {
      free();
      capacity_ = o.capacity_;
      data_ = o.data_;
      weak_ = o.weak_;
      shrink_ = o.shrink_;
      o.capacity_ = 0;
      o.data_ = nullptr;
      o.weak_ = false;
    }
    return *this;
  }
  ~BufferContainer() { free(); }

  [[nodiscard]] uint32_t capacity() const { return capacity_; }
  [[nodiscard]] T* data() const { return data_; }
  [[nodiscard]] bool weak() const { return weak_; }
  [[nodiscard]] bool shrink() const { return shrink_; }
  void set_shrink(bool value) { shrink_ = value; }

  // Wraps memory owned by someone else: it is never freed or resized here.
  void adopt_weak(T* data, uint32_t capacity) {
    free();
    data_ = data;
    capacity_ = capacity;
    weak_ = true;
  }
  // Takes ownership of a malloc'ed block of `capacity` elements.
  void adopt(T* data, uint32_t capacity) {
    free();
    data_ = data;
    capacity_ = capacity;
    weak_ = false;
  }

  void resize(uint32_t n, uint32_t /*live*/ = 0);

  void free() {
    if (data_ && !weak_) A::free(data_);
    data_ = nullptr;
    capacity_ = 0;
    weak_ = false;
  }

  T* collapse() {
    T* d = data_;
    data_ = nullptr;
    capacity_ = 0;
    weak_ = false;
    return d;
  }

 private:
  uint32_t capacity_;
  T* data_;
  bool weak_;
  bool shrink_;
};

[[noreturn]] void fatal_weak_resize();

template <typename T, typename A>
void BufferContainer<T, A>::resize(uint32_t n, uint32_t) {
  if (weak_) fatal_weak_resize();
  uint32_t need = n < 8 ? 8 : n;
  if (capacity_ >= need && !(shrink_ && need < capacity_ * 0.25)) return;
  uint32_t cap = capacity_for(need);
  if (cap == capacity_) return;
  data_ =
      (T*)(data_ ? A::realloc(data_, (size_t)cap * sizeof(T)) : A::alloc((size_t)cap * sizeof(T)));
  capacity_ = cap;
}

template <typename T, typename H = Container<T>>
class Array : public Object {
  static constexpr bool kPlain = std::is_same<H, BufferContainer<T>>::value;

 public:
  explicit Array(uint32_t length = 0, uint32_t capacity = 0)
      : length_(length), holder_(length > capacity ? length : capacity) {
    if (length) {
      if constexpr (kPlain) {
        memset((void*)holder_.data(), 0, (size_t)length * sizeof(T));
      } else {
        for (uint32_t i = 0; i < length; i++) new (holder_.data() + i) T();
      }
    }
  }
  Array(const Array& o) : Object(), length_(o.length_), holder_(o.length_) {
    copy_from(o.data(), o.length_);
  }
  Array(Array&& o) noexcept : Object(), length_(o.length_), holder_(std::move(o.holder_)) {
    o.length_ = 0;
  }
  Array(const T* data, uint32_t length, bool /*copy*/) : length_(length), holder_(length) {
    copy_from(data, length);
  }
  ~Array() override { clear(); }

  Array& operator=(const Array& o) {
    if (this != &o) {
      Array tmp(o);
      *this = std::move(tmp);
    }
    return *this;
  }
  Array& operator=(Array&& o) noexcept {
    if (this != &o) {
      clear();
      length_ = o.length_;
      holder_ = std::move(o.holder_);
      o.length_ = 0;
    }
    return *this;
  }

  [[nodiscard]] uint32_t length() const { return length_; }
  [[nodiscard]] uint32_t capacity() const { return holder_.capacity(); }
  [[nodiscard]] T* data() const { return holder_.data(); }
  [[nodiscard]] bool is_null() const { return holder_.data() == nullptr; }
  T& operator[](uint32_t i) {
    NUBRIX_ASSERT(i < length_, "array index out of range");
    return holder_.data()[i];
  }
  const T& operator[](uint32_t i) const {
    NUBRIX_ASSERT(i < length_, "array index out of range");
    return holder_.data()[i];
  }
  T* begin() const { return holder_.data(); }
  T* end() const { return holder_.data() + length_; }
  T& back() {
    NUBRIX_ASSERT(length_ > 0, "back() of an empty array");
    return holder_.data()[length_ - 1];
  }

  // Plain buffers only.
  [[nodiscard]] bool weak() const { return holder_.weak(); }
  [[nodiscard]] bool shrink() const { return holder_.shrink(); }
  void set_shrink(bool value) { holder_.set_shrink(value); }

  // A buffer over memory it does not own; resizing it is fatal.
  static Array from_weak(T* data, uint32_t length) {
    Array a;
    a.holder_.adopt_weak(data, length);
    a.length_ = length;
    return a;
  }
  // Takes over a malloc'ed block holding `length` elements in room for `capacity`.
  static Array adopt(T* data, uint32_t length, uint32_t capacity) {
    Array a;
    a.holder_.adopt(data, capacity);
    a.length_ = length;
    return a;
  }

  Array slice(uint32_t start, uint32_t end) const {
    if (end > length_) end = length_;
    if (start >= end) return Array();
    return Array(data() + start, end - start, true);
  }

  // Appends the other's elements followed by a zero element (not counted).
  uint32_t concat(const Array& o) { return append_impl(o.data(), o.length_, true); }
  // Appends the other's elements.
  uint32_t append(const Array& o) { return append_impl(o.data(), o.length_, false); }
  uint32_t append(const T* src, uint32_t count) { return append_impl(src, count, false); }

  // Copies `count` elements to `to` (-1 appends). A gap left beyond the old end is
  // zero-filled. The source may lie inside this buffer.
  uint32_t write(const T* src, int64_t to, uint32_t count) {
    static_assert(kPlain, "write() is for plain buffers");
    if (count == 0) return 0;
    uint64_t dest = to < 0 ? length_ : (uint64_t)to;
    uint32_t old = length_;
    uint32_t need = checked_length(dest, count);
    if (need > length_) {
      // The source may point into our own block, which resizing can move.
      const T* base = holder_.data();
      bool own = base && src >= base && src < base + holder_.capacity();
      size_t offset = own ? (size_t)(src - base) : 0;
      // Resize first: a refused allocation leaves the buffer as it was.
      holder_.resize(need, old);
      length_ = need;
      if (own) src = holder_.data() + offset;
    }
    if (dest > old) memset((void*)(holder_.data() + old), 0, (size_t)(dest - old) * sizeof(T));
    memmove((void*)(holder_.data() + dest), src, (size_t)count * sizeof(T));
    return count;
  }

  uint32_t push(T&& item) {
    T* base = holder_.data();
    if (base && &item >= base && &item < base + length_) {
      // The item lives in our own block, which growing may move.
      T copy(std::move(item));
      return push_unaliased(std::move(copy));
    }
    return push_unaliased(std::move(item));
  }
  uint32_t push(const T& item) {
    T copy(item);
    return push(std::move(copy));
  }

  uint32_t pop() { return pop(1); }
  uint32_t pop(uint32_t count) {
    if (count == 0 || count > length_) return length_;
    for (uint32_t i = length_ - count; i < length_; i++) destroy_at(i);
    length_ -= count;
    holder_.resize(length_, length_);
    return length_;
  }

  // Removes the element at index i, moving the later ones down.
  void remove(uint32_t i) {
    if (i >= length_) return;
    if constexpr (kPlain) {
      memmove((void*)(data() + i), data() + i + 1, (size_t)(length_ - i - 1) * sizeof(T));
    } else {
      for (uint32_t j = i; j + 1 < length_; j++) data()[j] = std::move(data()[j + 1]);
      data()[length_ - 1].~T();
    }
    length_--;
  }

  void clear() {
    for (uint32_t i = 0; i < length_; i++) destroy_at(i);
    length_ = 0;
    holder_.free();
  }

  // Hands the block to the caller (plain buffers), leaving the array empty.
  T* collapse() {
    length_ = 0;
    return holder_.collapse();
  }

 private:
  void destroy_at(uint32_t i) {
    if constexpr (!kPlain) holder_.data()[i].~T();
    (void)i;
  }
  void copy_from(const T* src, uint32_t n) {
    if (!n) return;
    if constexpr (kPlain) {
      memcpy((void*)holder_.data(), src, (size_t)n * sizeof(T));
    } else {
      for (uint32_t i = 0; i < n; i++) new (holder_.data() + i) T(src[i]);
    }
  }
  uint32_t push_unaliased(T&& item) {
    uint32_t n = checked_length(length_, 1);
    holder_.resize(n, length_);
    new (holder_.data() + length_) T(std::move(item));
    length_ = n;
    return length_;
  }
  uint32_t append_impl(const T* src, uint32_t count, bool terminate) {
    static_assert(kPlain, "append() is for plain buffers");
    if (count == 0) return length_;
    const T* base = holder_.data();
    bool own = base && src >= base && src < base + holder_.capacity();
    size_t offset = own ? (size_t)(src - base) : 0;
    uint32_t old = length_;
    uint32_t total = checked_length(length_, count);
    // Resize before the length changes: a refused request leaves the buffer intact.
    holder_.resize(terminate ? checked_length(total, 1) : total, old);
    length_ = total;
    if (own) src = holder_.data() + offset;
    memmove((void*)(holder_.data() + old), src, (size_t)count * sizeof(T));
    if (terminate) holder_.data()[length_] = T();
    return length_;
  }

  uint32_t length_;
  H holder_;
};

template <typename T>
using ArrayBuffer = Array<T, BufferContainer<T>>;
typedef ArrayBuffer<char> Buffer;

}  // namespace nubrix

#endif
