#include "utils/string-builder.h"

namespace nubrix {

void BasicStringBuilder::append_moved(BasicStringBuilder& other) {
  for (auto it = other.begin(); it != other.end(); ++it) push_move(*it);
  other.clear();
}

String16 BasicStringBuilder::join() const {
  if (length() == 1) return *begin();
  if (string_length_ == 0) return String16();
  // One block for the whole text plus its terminator; each piece copied once.
  ArrayBuffer<uint16_t> block(0, checked_length(string_length_, 1));
  uint16_t* out = block.data();
  for (auto it = begin(); it != end(); ++it) {
    memcpy(out, it->data(), (size_t)it->length() * sizeof(uint16_t));
    out += it->length();
  }
  *out = 0;
  uint16_t* data = block.collapse();
  return String16(ArrayBuffer<uint16_t>::adopt(data, string_length_, string_length_ + 1));
}

String BasicStringBuilder::to_string() const {
  static const String* text = new String("[BasicStringBuilder]");
  return *text;
}

}  // namespace nubrix
