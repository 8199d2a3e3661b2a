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

struct TokenData {
  uint32_t type = EOS;
  uint32_t start = 0;  // first unit of the token proper (after `before`)
  uint32_t end = 0;    // one past its last unit
  int32_t line = 0;    // line feeds before `start`
  String16 before;     // whitespace and comments in front of the token
  String16 value;      // the token's text, where it has one
  bool newline_before = false;
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
  // which receives the backslash and the escape as written (a line continuation is
  // normalised to one line feed). False for a malformed \u escape.
  bool read_escape(String16& value);
  // Scans a template piece from `index` into the look-ahead: TEMPLATE_END at the
  // closing back-quote, DOLLAR_BRACE at a substitution, ILLEGAL when unterminated.
  uint32_t scan_template_piece(uint32_t index);

  // Moving with line accounting.
  void advance() {
    if (position < length) {
      if (ch == '\n') line++;
      position++;
      ch = position < length ? (int32_t)source[position] : -1;
    } else {
      ch = -1;
    }
  }
  void back() {
    if (position == 0) return;
    position--;
    ch = source[position];
    if (ch == '\n') line--;
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
  bool clean_comment;

 private:
  void fill_lookahead();
  bool lookahead_pending = false;
  uint32_t scan_token(TokenData* t);
  uint32_t scan_string(TokenData* t);
  uint32_t scan_template(TokenData* t);
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
  // Reads the body of a string or template up to (not including) `position`,
  // appending source slices to `value` and normalising line continuations.
  bool read_escape_sliced(String16& value, uint32_t& mark);
};

// The one-character token types for units 0..127 (ILLEGAL where none).
extern const uint8_t kOneCharTokens[128];

}  // namespace nubrix

#endif
