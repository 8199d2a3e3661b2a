// BasicStringBuilder collects text as a list of shared String16 pieces and joins
// them once. Pushing a piece costs one list node and one reference; text is copied
// exactly once, by the join, into a block sized in advance. A builder with a single
// piece joins to that piece itself.
#ifndef NUBRIX_UTILS_STRING_BUILDER_H
#define NUBRIX_UTILS_STRING_BUILDER_H

#include "utils/list.h"
#include "utils/string.h"

namespace nubrix {

class BasicStringBuilder : public List<String16> {
 public:
  BasicStringBuilder() = default;
  BasicStringBuilder(BasicStringBuilder&& o) noexcept
      : List<String16>(std::move(o)), string_length_(o.string_length_) {
    o.string_length_ = 0;
  }
  BasicStringBuilder& operator=(BasicStringBuilder&& o) noexcept {
    if (this != &o) {
      List<String16>::operator=(std::move(o));
      string_length_ = o.string_length_;
      o.string_length_ = 0;
    }
    return *this;
  }
  ~BasicStringBuilder() override { string_length_ = 0; }

  // Appends a piece sharing the string's storage. Callers skip empty strings.
  Iterator push(const String16& piece) {
    uint32_t total = checked_length(string_length_, piece.length());
    Iterator it = List<String16>::push(piece);
    string_length_ = total;
    return it;
  }
  // Appends a piece by taking over the string, which is left empty.
  Iterator push_move(String16& piece) {
    uint32_t total = checked_length(string_length_, piece.length());
    Iterator it = List<String16>::push(std::move(piece));
    string_length_ = total;
    return it;
  }
  // Moves every piece of `other` to the end of this builder; `other` is left empty.
  void append_moved(BasicStringBuilder& other);

  void clear() {
    List<String16>::clear();
    string_length_ = 0;
  }

  [[nodiscard]] uint32_t string_length() const { return string_length_; }
  [[nodiscard]] uint32_t count() const { return length(); }

  // The joined text.
  [[nodiscard]] String16 join() const;
  String to_string() const override;

 private:
  uint32_t string_length_ = 0;
};

}  // namespace nubrix

#endif
