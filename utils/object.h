// Object is the root of the framework's class tree; Reference adds an atomic
// reference count. Framework objects are allocated through the `alloc` memory hook
// and given back with `release`, never with a plain `delete` (which is fatal).
#ifndef NUBRIX_UTILS_OBJECT_H
#define NUBRIX_UTILS_OBJECT_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>

namespace nubrix {

template <typename T>
class BasicString;
typedef BasicString<char> String;

class Object;

// Process-wide allocation hooks. `alloc` gets a size in bytes; `release` ends an
// object (default: run its destructor, then free); `retain` is told when a Reference
// gets its first holder (default: nothing).
struct MemoryHooks {
  void* (*alloc)(size_t size);
  void (*release)(Object* obj);
  void (*retain)(Object* obj);
};

// With null, every hook returns to its default; otherwise each non-null entry
// replaces its hook and each null entry restores the default.
void set_memory_hooks(const MemoryHooks* hooks);

class Object {
 public:
  Object() = default;
  Object(const Object&) = default;
  Object& operator=(const Object&) = default;

  virtual String to_string() const;
  virtual bool is_reference() const;
  // A plain Object refuses to be shared: the holder that asked owns it alone.
  virtual bool retain();
  virtual void release();
  virtual ~Object() = default;

  static void* operator new(size_t size);
  static void* operator new(size_t, void* place) noexcept { return place; }
  // Deleting a framework object directly is a bug: objects end through release().
  static void operator delete(void* ptr);
  static void operator delete(void*, void*) noexcept {}
};

class Reference : public Object {
 public:
  Reference() : ref_count_(0) {}
  Reference(const Reference&) : Object(), ref_count_(0) {}
  Reference& operator=(const Reference&) { return *this; }

  bool is_reference() const override;
  bool retain() override;
  void release() override;
  // Takes a reference only while the count is above 0; an object whose count reached 0
  // is being destroyed. True when it took one. For finders that hold no reference (a
  // registry that an object leaves in its destructor).
  bool retain_if_live();
  [[nodiscard]] int32_t ref_count() const { return ref_count_.load(); }

 private:
  std::atomic<int32_t> ref_count_;
};

// Null-tolerant forms.
inline bool retain(Object* obj) {
  return obj ? obj->retain() : false;
}
inline void release(Object* obj) {
  if (obj) obj->release();
}

// Ends an object through the release hook, whatever its kind (used by holders
// that own a plain Object alone).
void destroy_object(Object* obj);

}  // namespace nubrix

#endif
