#include "utils/object.h"

#include <cstdlib>

#include "utils/console.h"
#include "utils/error.h"
#include "utils/string.h"

namespace nubrix {

namespace {

void* default_alloc(size_t size) {
  return ::malloc(size);
}
void default_release(Object* obj) {
  obj->~Object();
  ::free(obj);
}
void default_retain(Object*) {}

MemoryHooks memory_hooks = {default_alloc, default_release, default_retain};

}  // namespace

void set_memory_hooks(const MemoryHooks* hooks) {
  memory_hooks.alloc = hooks && hooks->alloc ? hooks->alloc : default_alloc;
  memory_hooks.release = hooks && hooks->release ? hooks->release : default_release;
  memory_hooks.retain = hooks && hooks->retain ? hooks->retain : default_retain;
}

String Object::to_string() const {
  static const String* text = new String("[Object]");
  return *text;
}

bool Object::is_reference() const {
  return false;
}
bool Object::retain() {
  return false;
}
void Object::release() {
  memory_hooks.release(this);
}

void* Object::operator new(size_t size) {
  void* p = memory_hooks.alloc(size);
  if (!p) throw_out_of_memory(size);
  return p;
}

void Object::operator delete(void*) {
  fatal("utils/object", 157, "operator delete", "Unreachable code");
}

bool Reference::is_reference() const {
  return true;
}

bool Reference::retain() {
  if (ref_count_.fetch_add(1) == 0) memory_hooks.retain(this);
  return true;
}

void Reference::release() {
  if (ref_count_.fetch_sub(1) - 1 > 0) return;
  memory_hooks.release(this);
}

bool Reference::retain_if_live() {
  int32_t n = ref_count_.load();
  while (n > 0) {
    if (ref_count_.compare_exchange_weak(n, n + 1)) return true;
  }
  return false;
}

void destroy_object(Object* obj) {
  if (obj) memory_hooks.release(obj);
}

}  // namespace nubrix
