// Scanner turns UTF-16 source into tokens with one token of look-ahead. For every
// token it keeps the exact whitespace and comments in front of it (`before`), so the
// parser can copy the layout through. It never throws: anything no rule accepts
// becomes an ILLEGAL token for the parser to report.
#ifndef NUBRIX_JSX_SCANNER_H
#define NUBRIX_JSX_SCANNER_H

#include <cstdint>

#include "jsx/token.h"
#include "utils/object.h"
#include "utils/string.h"

namespace nubrix {

// Units that end a line for line counting: the line feed and the Unicode line and
// paragraph separators U+2028 and U+2029 (a carriage return counts only as part of
// CR LF).
inline bool is_line_break_unit(int32_t c) {
  return c == '\n' || (c | 1) == 0x2029;
}

// One token. Most `before` and `value` texts are exact ranges of the source: they
// are then kept as ranges (`before_from`..`start`, `value_from`..`value_to`) and only
// made into strings when someone asks (has_before/value()), so copying a token
// through costs no allocation.
struct TokenData {
  uint32_t type = EOS;
  uint32_t start = 0;  // first unit of the token proper (after `before`)
  uint32_t end = 0;    // one past its last unit
  int32_t line = 0;    // line feeds before `start`
  String16 before;     // whitespace and comments in front of the token
  String16 value;      // the token's text, where it has one
  bool newline_before = false;

  // Range forms of the two texts (see above).
  bool before_is_range = false;
  bool value_is_range = false;
  uint32_t before_from = 0;
  uint32_t value_from = 0;
  uint32_t value_to = 0;

  [[nodiscard]] bool has_before() const {
    return before_is_range ? start > before_from : !before.is_empty();
  }
  [[nodiscard]] bool has_value() const {
    return value_is_range ? value_to > value_from : !value.is_empty();
  }
  void reset_texts() {
    if (!before.is_empty()) before = String16();
    if (!value.is_empty()) value = String16();
    before_is_range = false;
    value_is_range = false;
  }
  void set_value_range(uint32_t from, uint32_t to) {
    value_is_range = true;
    value_from = from;
    value_to = to;
  }
};

class Scanner : public Object {
 public:
  Scanner(const uint16_t* source, uint32_t length, bool clean_comment);
  ~Scanner() override;
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

  // Makes the look-ahead current; returns the new current type. The token after it is
  // scanned when first asked for (peek_token), so code that repositions the scanner
  // (template continuation, markup text) never pays for a token it discards.
  uint32_t next();
  // The text of a token as a string (made from the source range on first use).
  const String16& value(TokenData* t) {
    if (t->value_is_range) {
      t->value_is_range = false;
      if (t->value_to > t->value_from)
        t->value = String16(source + t->value_from, t->value_to - t->value_from);
    }
    return t->value;
  }
  String16 take_before(TokenData* t) {
    if (t->before_is_range) {
      t->before_is_range = false;
      return t->start > t->before_from
                 ? String16(source + t->before_from, t->start - t->before_from)
                 : String16();
    }
    String16 b(std::move(t->before));
    return b;
  }
  // The look-ahead token, scanned now if it has not been yet.
  TokenData* peek_token() {
    if (lookahead_pending) fill_lookahead();
    return lookahead;
  }
  // Fills the look-ahead from the current position.
  void scan();
  // Forgets a scanned look-ahead; the next peek_token() scans from `position`.
  void discard_lookahead() { lookahead_pending = true; }
  // Rescans the current slash as a regular expression and makes it current. False
  // when the literal is malformed (the look-ahead is then ILLEGAL).
  bool scan_regexp();
  // Reads the escape after a backslash (ch is the unit after it) into `value`,
  // which receives the backslash and the escape as written, line continuations
  // included. False for a malformed \u escape.
  bool read_escape(String16& value);
  // The hex digits of a \u escape, ch on the unit after the `u`: four digits or a
  // braced code point up to 10FFFF. On failure the scanner moves back to the unit
  // after the `u`.
  bool read_unicode_digits(uint32_t* code_point = nullptr);
  // Scans a template piece from `index` into the look-ahead: TEMPLATE_END at the
  // closing back-quote, DOLLAR_BRACE at a substitution, ILLEGAL when unterminated.
  uint32_t scan_template_piece(uint32_t index);

  // Moving with line accounting.
  void advance() {
    if (position < length) {
      if (is_line_break_unit(ch)) line++;
      position++;
      ch = position < length ? (int32_t)source[position] : -1;
    } else {
      ch = -1;
    }
  }
  // Moves forward to index p, where `l` line feeds precede it (the caller counted them).
  void jump(uint32_t p, int32_t l) {
    position = p;
    line = l;
    ch = p < length ? (int32_t)source[p] : -1;
  }
  void back() {
    if (position == 0) return;
    position--;
    ch = source[position];
    if (is_line_break_unit(ch)) line--;
  }
  void move_to(uint32_t index) {
    while (position < index && position < length) advance();
    while (position > index) back();
  }
  [[nodiscard]] int32_t peek(uint32_t ahead = 1) const {
    return position + ahead < length ? (int32_t)source[position + ahead] : -1;
  }

  const uint16_t* source;
  uint32_t length;
  uint32_t position = 0;
  int32_t line = 0;
  int32_t ch = -1;
  TokenData* current;
  TokenData* lookahead;
  uint32_t previous_type = ILLEGAL;
  uint32_t previous_start = 0;  // where the token before `current` began
  uint32_t previous_end = 0;    // and where it ended
  // The type of the token before that one: a name after a period is a member name,
  // not a keyword (`a.in / b`, `x.return / 2`).
  uint32_t before_previous_type = ILLEGAL;
  bool clean_comment;

 private:
  void fill_lookahead();
  bool lookahead_pending = false;
  uint32_t scan_token(TokenData* t);
  uint32_t scan_string(TokenData* t);
  uint32_t scan_template(TokenData* t);
  uint32_t read_template(TokenData* t, uint32_t mark);
  // `&&`, `&=` or `&` (likewise for `|`, `+`, `-`), with ch on the first unit.
  uint32_t doubled_or_assign(uint32_t twice, uint32_t assign, uint32_t single) {
    int32_t first = ch;
    advance();
    if (ch == first) return advance(), twice;
    if (ch == '=') return advance(), assign;
    return single;
  }
  uint32_t scan_name(TokenData* t);
  void scan_dotted_name();
  uint32_t scan_less_than(TokenData* t);
  uint32_t scan_number(TokenData* t, bool period);
  uint32_t scan_markup_comment(TokenData* t);
  uint32_t select(int32_t expected, uint32_t a, uint32_t b) {
    advance();
    if (ch == expected) {
      advance();
      return a;
    }
    return b;
  }
  // Skips a line or block comment starting at the slash; false for an unterminated
  // block comment.
  bool skip_comment(TokenData* t, uint32_t& before_from);
  void set_value(TokenData* t, uint32_t from, uint32_t to);
  // Skips the escape after a backslash in a string or template (ch is the unit after
  // it); the value stays the source text, so every escape, line continuations
  // included, is copied as written. False for a malformed \u escape.
  bool skip_escape();
  // The code point at `position` (a surrogate pair taken whole) and its length in
  // units.
  uint32_t code_point_here(uint32_t* units) const;
};

// The one-character token types for units 0..127 (ILLEGAL where none).
extern const uint8_t kOneCharTokens[128];

}  // namespace nubrix

#endif
