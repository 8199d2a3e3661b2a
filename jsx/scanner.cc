#include "jsx/scanner.h"

#include <utility>

#include "jsx/ascii.h"
#include "jsx/unicode-id.h"
#include "utils/simd.h"

namespace nubrix {

#define X ILLEGAL
const uint8_t kOneCharTokens[128] = {
    X,      X,      X,     X,         X,     X,      X,       X,
    X,      X,      X,     X,         X,     X,      X,       X,  // 0x00
    X,      X,      X,     X,         X,     X,      X,       X,
    X,      X,      X,     X,         X,     X,      X,       X,  // 0x10
    X,      X,      X,     X,         X,     X,      X,       X,
    LPAREN, RPAREN, X,     X,         COMMA, X,      X,       X,  // 0x20
    X,      X,      X,     X,         X,     X,      X,       X,
    X,      X,      COLON, SEMICOLON, X,     X,      X,       CONDITIONAL,  // 0x30
    AT,     X,      X,     X,         X,     X,      X,       X,
    X,      X,      X,     X,         X,     X,      X,       X,  // 0x40
    X,      X,      X,     X,         X,     X,      X,       X,
    X,      X,      X,     LBRACK,    X,     RBRACK, X,       X,  // 0x50
    X,      X,      X,     X,         X,     X,      X,       X,
    X,      X,      X,     X,         X,     X,      X,       X,  // 0x60
    X,      X,      X,     X,         X,     X,      X,       X,
    X,      X,      X,     LBRACE,    X,     RBRACE, BIT_NOT, X,  // 0x70
};
#undef X

namespace {

// Whitespace above U+007F: the no-break space, the other space separators (Zs) and
// U+FEFF.
inline bool is_unicode_blank(int32_t c) {
  return c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F || c == 0x205F ||
         c == 0x3000 || c == 0xFEFF;
}
inline uint32_t hex_value(int32_t c) {
  return c <= '9' ? (uint32_t)(c - '0') : (uint32_t)((c | 0x20) - 'a' + 10);
}
// Code points that may start or continue a name (`$`, `_`, letters, and the Unicode
// ID_Start and ID_Continue characters; a name may also hold ZWNJ and ZWJ).
inline bool is_id_start(uint32_t cp) {
  return cp < 128 ? is_name_start((int32_t)cp) : is_unicode_id_start(cp);
}
inline bool is_id_continue(uint32_t cp) {
  if (cp < 128) return kNamePart[cp];
  return cp == 0x200C || cp == 0x200D || is_unicode_id_continue(cp);
}

bool equals_ascii(const uint16_t* s, const char* word, uint32_t n) {
  for (uint32_t i = 0; i < n; i++)
    if (s[i] != (uint8_t)word[i]) return false;
  return true;
}

// Classifies a name: a keyword type, or IDENTIFIER.
uint32_t classify(const uint16_t* s, uint32_t n) {
  if (n < 2 || n > 10) return IDENTIFIER;
  struct Candidate {
    const char* word;
    uint32_t length;
    uint32_t type;
  };
  static const Candidate a[] = {{"as", 2, AS}, {"async", 5, ASYNC}};
  static const Candidate c[] = {{"class", 5, CLASS}, {"const", 5, CONST}};
  static const Candidate d[] = {{"default", 7, DEFAULT}};
  static const Candidate e[] = {
      {"else", 4, ELSE}, {"event", 5, EVENT}, {"export", 6, EXPORT}, {"extends", 7, EXTENDS}};
  static const Candidate f[] = {{"from", 4, FROM}, {"function", 8, FUNCTION}};
  static const Candidate g[] = {{"get", 3, GET}};
  static const Candidate i[] = {
      {"if", 2, IF}, {"in", 2, IN}, {"import", 6, IMPORT}, {"instanceof", 10, INSTANCEOF}};
  static const Candidate l[] = {{"let", 3, LET}};
  static const Candidate o[] = {{"of", 2, OF}};
  static const Candidate r[] = {{"return", 6, RETURN}};
  static const Candidate s_[] = {{"set", 3, SET}, {"static", 6, STATIC}};
  static const Candidate t[] = {{"typeof", 6, TYPEOF}};
  static const Candidate v[] = {{"var", 3, VAR}};
  const Candidate* list = nullptr;
  uint32_t count = 0;
  switch (s[0]) {
#define CASE(ch, arr)                     \
  case ch:                                \
    list = arr;                           \
    count = sizeof(arr) / sizeof(arr[0]); \
    break;
    CASE('a', a)
    CASE('c', c)
    CASE('d', d)
    CASE('e', e)
    CASE('f', f)
    CASE('g', g)
    CASE('i', i)
    CASE('l', l)
    CASE('o', o)
    CASE('r', r)
    CASE('s', s_)
    CASE('t', t)
    CASE('v', v)
#undef CASE
    default:
      return IDENTIFIER;
  }
  for (uint32_t k = 0; k < count; k++) {
    if (list[k].length == n && equals_ascii(s, list[k].word, n)) return list[k].type;
  }
  return IDENTIFIER;
}

// Index of the first line terminator (LF, CR, U+2028, U+2029) at or after p (or n).
uint32_t find_line_end(const uint16_t* s, uint32_t p, uint32_t n) {
#if NUBRIX_SSE2
  const __m128i lf = _mm_set1_epi16('\n');
  const __m128i cr = _mm_set1_epi16('\r');
  const __m128i one = _mm_set1_epi16(1);
  const __m128i ps = _mm_set1_epi16(0x2029);
  while (p + 8 <= n) {
    __m128i v = _mm_loadu_si128((const __m128i*)(s + p));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(v, cr));
    hit = _mm_or_si128(hit, _mm_cmpeq_epi16(_mm_or_si128(v, one), ps));
    int m = _mm_movemask_epi8(hit);
    if (m) return p + (uint32_t)__builtin_ctz((unsigned)m) / 2;
    p += 8;
  }
#endif
  while (p < n && s[p] != '\n' && s[p] != '\r' && !is_line_break_unit(s[p])) p++;
  return p;
}

#if NUBRIX_SSE2
// The units marked in a byte mask of eight units (two bits a unit) below the unit at
// byte `at` (16: all of them); line feeds are rare, so the loop usually does nothing.
inline uint32_t units_below(unsigned mask, unsigned at = 16) {
  if (at < 16) mask &= (1u << at) - 1;
  uint32_t n = 0;
  for (; mask; mask &= mask - 1) n++;
  return n / 2;
}
#endif

// Index of the "*/" that ends a block comment, searched from p (n when there is
// none); line breaks (LF, U+2028, U+2029) passed on the way are added to
// `line_feeds`. Eight units are looked at a time: documentation comments hold a '*' on
// every line, so looking for the pair, not for the star, skips them whole.
uint32_t find_comment_end(const uint16_t* s, uint32_t p, uint32_t n, uint32_t& line_feeds) {
#if NUBRIX_SSE2
  const __m128i star = _mm_set1_epi16('*');
  const __m128i slash = _mm_set1_epi16('/');
  const __m128i lf = _mm_set1_epi16('\n');
  const __m128i one = _mm_set1_epi16(1);
  const __m128i ps = _mm_set1_epi16(0x2029);
  while (p + 9 <= n) {
    __m128i v = _mm_loadu_si128((const __m128i*)(s + p));
    __m128i next = _mm_loadu_si128((const __m128i*)(s + p + 1));
    unsigned m = (unsigned)_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi16(v, star), _mm_cmpeq_epi16(next, slash)));
    unsigned f = (unsigned)_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi16(v, lf), _mm_cmpeq_epi16(_mm_or_si128(v, one), ps)));
    if (m) {
      unsigned at = (unsigned)__builtin_ctz(m);
      line_feeds += units_below(f, at);
      return p + at / 2;
    }
    line_feeds += units_below(f);
    p += 8;
  }
#endif
  while (p + 1 < n && !(s[p] == '*' && s[p + 1] == '/')) {
    if (is_line_break_unit(s[p])) line_feeds++;
    p++;
  }
  if (p + 1 >= n) {
    // No end: the rest is the comment.
    for (; p < n; p++) line_feeds += is_line_break_unit(s[p]);
    return n;
  }
  return p;
}

// Index of the first unit at or after p that is not a space, a tab or a line feed (or
// n); the line feeds passed are added to `line_feeds`. Most runs are one space, taken
// before the block search; indentation is taken eight units at a time.
uint32_t find_blank_end(const uint16_t* s, uint32_t p, uint32_t n, uint32_t& line_feeds) {
  auto blank = [](uint16_t u) { return u == ' ' || u == '\t' || u == '\n'; };
  if (p < n && blank(s[p])) {
    line_feeds += s[p] == '\n';
    p++;
    if (p < n && s[p] > ' ') return p;
  }
#if NUBRIX_SSE2
  const __m128i space = _mm_set1_epi16(' ');
  const __m128i tab = _mm_set1_epi16('\t');
  const __m128i lf = _mm_set1_epi16('\n');
  while (p + 8 <= n) {
    __m128i v = _mm_loadu_si128((const __m128i*)(s + p));
    __m128i is_lf = _mm_cmpeq_epi16(v, lf);
    unsigned f = (unsigned)_mm_movemask_epi8(is_lf);
    unsigned m = (unsigned)_mm_movemask_epi8(
        _mm_or_si128(is_lf, _mm_or_si128(_mm_cmpeq_epi16(v, space), _mm_cmpeq_epi16(v, tab))));
    if (m != 0xFFFF) {
      unsigned at = (unsigned)__builtin_ctz(~m);
      line_feeds += units_below(f, at);
      return p + at / 2;
    }
    line_feeds += units_below(f);
    p += 8;
  }
#endif
  while (p < n && blank(s[p])) {
    line_feeds += s[p] == '\n';
    p++;
  }
  return p;
}

// Index of the first unit at or after p that does not continue an ASCII name (a
// letter, a digit, '_' or '$'), or n.
uint32_t find_name_end(const uint16_t* s, uint32_t p, uint32_t n) {
#if NUBRIX_SSE2
  // Signed 16-bit compares: units from 0x8000 up are negative and fall outside every
  // range, like every other unit above 127.
  const __m128i fold = _mm_set1_epi16(0x20);
  const __m128i before_a = _mm_set1_epi16('a' - 1);
  const __m128i after_z = _mm_set1_epi16('z' + 1);
  const __m128i before_0 = _mm_set1_epi16('0' - 1);
  const __m128i after_9 = _mm_set1_epi16('9' + 1);
  const __m128i underscore = _mm_set1_epi16('_');
  const __m128i dollar = _mm_set1_epi16('$');
  while (p + 8 <= n) {
    __m128i v = _mm_loadu_si128((const __m128i*)(s + p));
    __m128i lower = _mm_or_si128(v, fold);
    __m128i part = _mm_and_si128(_mm_cmpgt_epi16(lower, before_a), _mm_cmplt_epi16(lower, after_z));
    part = _mm_or_si128(part,
                        _mm_and_si128(_mm_cmpgt_epi16(v, before_0), _mm_cmplt_epi16(v, after_9)));
    part = _mm_or_si128(part,
                        _mm_or_si128(_mm_cmpeq_epi16(v, underscore), _mm_cmpeq_epi16(v, dollar)));
    unsigned m = (unsigned)_mm_movemask_epi8(part);
    if (m != 0xFFFF) return p + (unsigned)__builtin_ctz(~m) / 2;
    p += 8;
  }
#endif
  while (p < n && s[p] < 128 && kNamePart[s[p]]) p++;
  return p;
}

}  // namespace

Scanner::Scanner(const uint16_t* src, uint32_t len, bool clean)
    : source(src),
      length(len),
      current(new TokenData()),
      lookahead(new TokenData()),
      clean_comment(clean) {
  if (length == 0) {
    ch = -1;
    current->type = ILLEGAL;
    scan();
    return;
  }
  ch = source[0];
  if (ch == 0xFEFF || ch == 0xFFFE) advance();
  current->type = ILLEGAL;
  if (ch == '#' && peek() == '!') {
    // A first line for the shell, copied through as one token.
    uint32_t from = position;
    while (ch != '\n' && ch != 0 && ch != -1) advance();
    lookahead->type = SHEBANG;
    lookahead->start = from;
    lookahead->end = position;
    lookahead->set_value_range(from, position);
    return;
  }
  // Anything else, a lone '#' included, is scanned normally ('#' is ILLEGAL).
  scan();
}

Scanner::~Scanner() {
  delete current;
  delete lookahead;
}

uint32_t Scanner::next() {
  if (lookahead_pending) fill_lookahead();
  before_previous_type = previous_type;
  previous_type = current->type;
  previous_start = current->start;
  previous_end = current->end;
  std::swap(current, lookahead);
  lookahead_pending = true;
  return current->type;
}

void Scanner::fill_lookahead() {
  lookahead_pending = false;
  TokenData* t = lookahead;
  if (ch >= 0 && ch < 128 && kOneCharTokens[ch] != ILLEGAL) {
    // Punctuators that are always one unit skip the main scan.
    t->start = position;
    t->line = line;
    t->reset_texts();
    t->newline_before = false;
    t->type = kOneCharTokens[ch];
    t->end = position + 1;
    advance();
  } else {
    scan();
  }
}

void Scanner::set_value(TokenData* t, uint32_t from, uint32_t to) {
  t->set_value_range(from, to);
}

void Scanner::scan() {
  lookahead_pending = false;
  TokenData* t = lookahead;
  t->reset_texts();
  t->newline_before = false;
  uint32_t before_from = position;
  for (;;) {
    t->start = position;
    t->line = line;
    int32_t c = ch;
    if (c == ' ' || c == '\t' || c == '\n') {
      // A run of spaces, tabs and line feeds, read without per-unit bookkeeping.
      uint32_t line_feeds = 0;
      uint32_t p = find_blank_end(source, position, length, line_feeds);
      if (line_feeds) t->newline_before = true;
      jump(p, line + (int32_t)line_feeds);
      continue;
    }
    if (c == '/' && (peek() == '/' || peek() == '*')) {
      if (skip_comment(t, before_from)) continue;
      // Unterminated block comment.
      if (!clean_comment && position > before_from) {
        t->before.push(source + before_from, position - before_from);
      }
      t->type = ILLEGAL;
      t->end = position;
      return;
    }
    if (c >= 0x80 && is_unicode_blank(c)) {
      advance();
      continue;
    }
    if (c >= 0x80 && is_line_break_unit(c)) {
      // U+2028 and U+2029 end a line like a line feed.
      advance();
      t->newline_before = true;
      continue;
    }
    if (c == '\r' || c == '\v' || c == '\f') {
      // The blank run (carriage returns, vertical tabs, form feeds and whatever
      // blanks follow). A line feed in it is a line break like any other, so CRLF
      // files read like LF files.
      while (is_blank(ch)) {
        if (ch == '\n') t->newline_before = true;
        advance();
      }
      continue;
    }
    break;
  }
  if (clean_comment) {
    if (t->start > before_from) t->before.push(source + before_from, t->start - before_from);
  } else {
    t->before_is_range = true;
    t->before_from = before_from;
  }
  t->type = scan_token(t);
  t->end = position;
}

bool Scanner::skip_comment(TokenData* t, uint32_t& before_from) {
  uint32_t from = position;
  if (peek() == '/') {
    jump(find_line_end(source, position + 2, length), line);
    if (clean_comment) {
      if (from > before_from) t->before.push(source + before_from, from - before_from);
      before_from = position;
    }
    return true;
  }
  uint32_t line_feeds = 0;
  uint32_t p = find_comment_end(source, position + 2, length, line_feeds);
  if (p >= length) {
    jump(length, line + (int32_t)line_feeds);
    return false;
  }
  jump(p + 2, line + (int32_t)line_feeds);
  if (clean_comment) {
    if (from > before_from) t->before.push(source + before_from, from - before_from);
    if (line_feeds) {
      for (uint32_t i = 0; i < line_feeds; i++) t->before.push((uint16_t)'\n');
    } else {
      // Dropping the comment must not join its neighbours into one token
      // (`var/**/a`, `1 -/**/-1`): keep one space between two non-blank units.
      uint32_t text_start = (length && (source[0] == 0xFEFF || source[0] == 0xFFFE)) ? 1 : 0;
      if (from > text_start && !is_blank(source[from - 1]) && position < length &&
          !is_blank(source[position])) {
        t->before.push((uint16_t)' ');
      }
    }
    before_from = position;
  }
  return true;
}

uint32_t Scanner::scan_token(TokenData* t) {
  int32_t c = ch;
  switch (c) {
    case '"':
    case '\'':
      return scan_string(t);
    case '`':
      return scan_template(t);
    case '$':
      if (peek() == '{') {
        advance();
        return DOLLAR_BRACE;
      }
      return scan_name(t);
    case '%': {
      int32_t n = peek();
      if (n == '{') {
        advance();
        return PERCENT_BRACE;
      }
      if (n == '%' && peek(2) == '{') {
        advance();
        advance();
        return PERCENT_PERCENT_BRACE;
      }
      if (n == '=') {
        advance();
        advance();
        return ASSIGN_MOD;
      }
      advance();
      return MOD;
    }
    case '&':
      return doubled_or_assign(AND, ASSIGN_BIT_AND, BIT_AND);
    case '|':
      return doubled_or_assign(OR, ASSIGN_BIT_OR, BIT_OR);
    case '+':
      return doubled_or_assign(INC, ASSIGN_ADD, ADD);
    case '-':
      return doubled_or_assign(DEC, ASSIGN_SUB, SUB);
    case '*':
      advance();
      if (ch == '*') return select('=', ASSIGN_EXP, EXP);
      if (ch == '=') return advance(), ASSIGN_MUL;
      return MUL;
    case '^':
      return select('=', ASSIGN_BIT_XOR, BIT_XOR);
    case '!':
      if (peek() == '=') {
        advance();
        return select('=', NE_STRICT, NE);
      }
      advance();
      return NOT;
    case '=':
      if (peek() == '=') {
        advance();
        return select('=', EQ_STRICT, EQ);
      }
      advance();
      return ASSIGN;
    case '>':
      advance();
      if (ch == '=') return advance(), GTE;
      if (ch == '>') {
        advance();
        if (ch == '=') return advance(), ASSIGN_SAR;
        if (ch == '>') return select('=', ASSIGN_SHR, SHR);
        return SAR;
      }
      return GT;
    case '<':
      return scan_less_than(t);
    case '.':
      if (is_digit(peek())) {
        advance();
        return scan_number(t, true);
      }
      advance();
      return PERIOD;
    case '/':
      advance();
      if (ch == '=') return advance(), ASSIGN_DIV;
      return DIV;
    default:
      break;
  }
  if (c >= 0 && c < 128 && kOneCharTokens[c] != ILLEGAL) {
    advance();
    return kOneCharTokens[c];
  }
  if (is_letter(c) || c == '_' || c == '\\' || c >= 0x80) return scan_name(t);
  if (is_digit(c)) return scan_number(t, false);
  if (c == -1) return EOS;
  advance();
  return ILLEGAL;
}

bool Scanner::skip_escape() {
  int32_t e = ch;
  advance();
  // A line continuation: CR LF (and LF CR) is one line break.
  if ((e == '\r' && ch == '\n') || (e == '\n' && ch == '\r')) advance();
  return e != 'u' || read_unicode_digits();
}

bool Scanner::read_unicode_digits(uint32_t* code_point) {
  uint32_t after_u = position;
  uint32_t cp = 0;
  if (ch == '{') {
    advance();
    uint32_t digits = 0;
    while (is_hex(ch) && cp <= 0x10FFFF) {
      cp = cp * 16 + hex_value(ch);
      digits++;
      advance();
    }
    if (digits == 0 || cp > 0x10FFFF || ch != '}') {
      move_to(after_u);
      return false;
    }
    advance();
  } else {
    for (int k = 0; k < 4; k++) {
      if (!is_hex(ch)) {
        move_to(after_u);
        return false;
      }
      cp = cp * 16 + hex_value(ch);
      advance();
    }
  }
  if (code_point) *code_point = cp;
  return true;
}

uint32_t Scanner::code_point_here(uint32_t* units) const {
  uint32_t c = source[position];
  *units = 1;
  if (c >= 0xD800 && c <= 0xDBFF && position + 1 < length) {
    uint32_t low = source[position + 1];
    if (low >= 0xDC00 && low <= 0xDFFF) {
      *units = 2;
      return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return c;
}

bool Scanner::read_escape(String16& value) {
  int32_t e = ch;
  advance();
  value.push((uint16_t)'\\');
  if (e == '\r' || e == '\n') {
    // A line continuation, copied as written so that the lines stay as they are.
    value.push((uint16_t)e);
    if ((e == '\r' && ch == '\n') || (e == '\n' && ch == '\r')) {
      value.push((uint16_t)ch);
      advance();
    }
    return true;
  }
  if (e != 'u') {
    if (e >= 0) value.push((uint16_t)e);
    return true;
  }
  uint32_t after_u = position;
  if (!read_unicode_digits()) return false;
  value.push((uint16_t)'u');
  value.push(source + after_u, position - after_u);
  return true;
}

uint32_t Scanner::scan_string(TokenData* t) {
  int32_t q = ch;
  uint32_t mark = position;
  advance();
  for (;;) {
    // Plain content runs to the quote, a backslash or a line end. U+2028 and U+2029
    // may stand in a string; they are stepped over one by one to count the line.
    uint32_t p = position;
    while (p < length) {
      uint16_t u = source[p];
      if (u == q || u == '\\' || u == '\n' || u == '\r' || is_line_break_unit(u)) break;
      p++;
    }
    jump(p, line);
    int32_t c = ch;
    if (c == q) {
      advance();
      t->set_value_range(mark, position);
      return STRING_LITERAL;
    }
    if (c == -1 || c == '\n' || c == '\r') return ILLEGAL;
    advance();
    if (c == '\\' && !skip_escape()) return ILLEGAL;
  }
}

uint32_t Scanner::scan_template(TokenData* t) {
  uint32_t mark = position;
  advance();
  uint32_t type = read_template(t, mark);
  return type == TEMPLATE_END ? STRING_LITERAL : type;
}

// Reads template text from `position` (the value starts at `mark`) up to the closing
// back-quote (TEMPLATE_END, consumed) or a `${` (DOLLAR_BRACE, ending before the
// '{', which is scanned next as LBRACE); ILLEGAL when unterminated or for a bad escape.
uint32_t Scanner::read_template(TokenData* t, uint32_t mark) {
  for (;;) {
    int32_t c = ch;
    if (c == '`') {
      advance();
      t->set_value_range(mark, position);
      return TEMPLATE_END;
    }
    if (c == -1) return ILLEGAL;
    uint32_t at = position;
    advance();
    if (c == '\\') {
      if (!skip_escape()) return ILLEGAL;
    } else if (c == '$' && ch == '{') {
      t->set_value_range(mark, at);
      return DOLLAR_BRACE;
    }
  }
}

uint32_t Scanner::scan_template_piece(uint32_t index) {
  lookahead_pending = false;
  TokenData* t = lookahead;
  t->reset_texts();
  t->newline_before = false;
  if (index >= length) {
    t->type = ILLEGAL;
    t->start = t->end = position;
    t->line = line;
    return ILLEGAL;
  }
  move_to(index);
  t->start = index;
  t->line = line;
  t->type = read_template(t, position);
  t->end = position;
  return t->type;
}

// A name: ASCII runs are taken at once; non-ASCII characters (by their ID_Start and
// ID_Continue properties) and \u escapes one code point at a time. The value is the
// name as written. A name with either is never a keyword.
uint32_t Scanner::scan_name(TokenData* t) {
  uint32_t from = position;
  bool plain = true;
  for (;;) {
    jump(find_name_end(source, position, length), line);
    if (ch == '\\') {
      if (peek() != 'u') break;
      uint32_t at = position;
      advance();
      advance();
      uint32_t cp = 0;
      if (!read_unicode_digits(&cp)) return ILLEGAL;
      if (!(at == from ? is_id_start(cp) : is_id_continue(cp))) return ILLEGAL;
    } else if (ch >= 0x80) {
      uint32_t units = 0;
      uint32_t cp = code_point_here(&units);
      if (!(position == from ? is_id_start(cp) : is_id_continue(cp))) break;
      for (uint32_t i = 0; i < units; i++) advance();
    } else {
      break;
    }
    plain = false;
  }
  if (position == from) {
    // Not a name at all: one character (a whole surrogate pair) is ILLEGAL.
    uint32_t units = 1;
    if (ch >= 0) code_point_here(&units);
    for (uint32_t i = 0; i < units; i++) advance();
    return ILLEGAL;
  }
  set_value(t, from, position);
  return plain ? classify(source + from, position - from) : IDENTIFIER;
}

void Scanner::scan_dotted_name() {
  while (is_name_part(ch)) advance();
  while (ch == '.' && is_name_start(peek())) {
    advance();
    while (is_name_part(ch)) advance();
  }
}

uint32_t Scanner::scan_less_than(TokenData* t) {
  advance();
  if (ch == -1) return LT;
  if (ch == '!') {
    if (peek() == '-' && peek(2) == '-') {
      advance();
      advance();
      advance();
      return scan_markup_comment(t);
    }
    return LT;
  }
  if (is_name_start(ch)) {
    uint32_t from = position;
    scan_dotted_name();
    if (ch == ':' && is_name_start(peek())) {
      advance();
      scan_dotted_name();
    }
    set_value(t, from, position);
    return XML_ELEMENT_TAG;
  }
  if (ch == '/') {
    advance();
    if (!is_name_start(ch)) return ILLEGAL;
    uint32_t from = position;
    scan_dotted_name();
    if (ch == ':' && is_name_start(peek())) {
      advance();
      scan_dotted_name();
    }
    uint32_t to = position;
    if (ch != '>') return ILLEGAL;
    advance();
    set_value(t, from, to);
    return XML_ELEMENT_TAG_END;
  }
  if (ch == '<') return select('=', ASSIGN_SHL, SHL);
  if (ch == '=') return advance(), LTE;
  return LT;
}

uint32_t Scanner::scan_markup_comment(TokenData* t) {
  for (;;) {
    if (ch == -1) return ILLEGAL;
    if (ch == '-') {
      advance();
      uint32_t dashes = 1;
      if (ch == '-') {
        advance();
        dashes = 2;
        if (ch == '>') {
          advance();
          return XML_COMMENT;
        }
      }
      for (uint32_t i = 0; i < dashes; i++) t->value.push((uint16_t)'-');
      if (ch == -1) continue;
    }
    if (!clean_comment) {
      t->value.push((uint16_t)(ch == '*' ? 'x' : ch));
    } else if (is_line_break_unit(ch)) {
      t->value.push((uint16_t)'\n');
    }
    advance();
  }
}

// Numbers as written: decimal with an optional fraction and exponent (`5.`, `.5`,
// `1e-3`), `0x`, `0o` and `0b` forms, `_` between two digits (`1_000`), the BigInt
// suffix `n` on integers (`10n`, `0xFFn`), and the legacy forms `0755` (octal, no
// fraction) and `08`/`09.5` (decimal). The character after a number may not continue
// it: a name character, a digit, or a period before a digit (`1.2.3`) makes the
// number ILLEGAL, while a period before a name is member access (`1..toString()`,
// `0.5.toFixed(1)`, `01.a`).
uint32_t Scanner::scan_number(TokenData* t, bool period) {
  uint32_t from = period ? position - 1 : position;
  // Digits accepted by `accept`, with single separators between two of them.
  auto digits = [&](bool (*accept)(int32_t)) {
    for (;;) {
      if (accept(ch)) {
        advance();
      } else if (ch == '_' && position > from && accept(source[position - 1]) && accept(peek())) {
        advance();
      } else {
        return;
      }
    }
  };
  auto exponent = [&]() -> bool {
    if (ch != 'e' && ch != 'E') return true;
    advance();
    if (ch == '+' || ch == '-') advance();
    if (!is_digit(ch)) return false;
    digits(is_digit);
    return true;
  };
  bool integer = true;  // may take the BigInt suffix
  bool ok = true;
  if (period) {
    digits(is_digit);
    ok = exponent();
    integer = false;
  } else if (ch == '0' &&
             ((peek() | 0x20) == 'x' || (peek() | 0x20) == 'o' || (peek() | 0x20) == 'b')) {
    advance();
    int32_t kind = ch | 0x20;
    bool (*accept)(int32_t) = kind == 'x'   ? is_hex
                              : kind == 'o' ? [](int32_t c) { return c >= '0' && c <= '7'; }
                                            : [](int32_t c) { return c == '0' || c == '1'; };
    advance();
    if (!accept(ch)) return ILLEGAL;
    digits(accept);
  } else if (ch == '0' && is_digit(peek())) {
    // Legacy forms: no separators and no BigInt; a fraction or an exponent only when
    // a digit 8 or 9 makes the number decimal.
    bool octal = true;
    while (is_digit(ch)) {
      if (ch >= '8') octal = false;
      advance();
    }
    integer = false;
    if (!octal) {
      if (ch == '.') {
        advance();
        digits(is_digit);
      }
      ok = exponent();
    }
  } else {
    // Decimal; a leading 0 stands alone (`0_1` is refused by the final check).
    if (ch == '0') {
      advance();
    } else {
      digits(is_digit);
    }
    if (ch == '.') {
      advance();
      digits(is_digit);
      integer = false;
    }
    if (ch == 'e' || ch == 'E') integer = false;
    ok = exponent();
  }
  if (!ok) return ILLEGAL;
  if (integer && ch == 'n') advance();
  if (ch != -1) {
    bool joined = is_letter(ch) || ch == '$' || ch == '_' || ch == '\\' || is_digit(ch) ||
                  (ch == '.' && is_digit(peek()));
    if (!joined && ch >= 0x80) {
      uint32_t units = 0;
      joined = is_id_start(code_point_here(&units));
    }
    if (joined) return ILLEGAL;
  }
  set_value(t, from, position);
  return NUMBER_LITERAL;
}

bool Scanner::scan_regexp() {
  lookahead_pending = false;
  TokenData* t = lookahead;
  uint32_t s = current->start;
  auto fail = [&]() {
    t->type = ILLEGAL;
    t->end = position;
    return false;
  };
  if (s >= length) {
    t->start = position;
    return fail();
  }
  move_to(s);
  t->start = s;
  t->line = line;
  t->reset_texts();
  t->newline_before = false;
  advance();
  if (ch == '/' || ch == '*') return fail();
  bool in_class = false;
  for (;;) {
    int32_t c = ch;
    if (c == -1 || c == '\n' || c == '\r' || is_line_break_unit(c)) return fail();
    if (c == '\\') {
      advance();
      if (ch == -1 || ch == '\n' || ch == '\r' || is_line_break_unit(ch)) return fail();
    } else if (c == '[') {
      in_class = true;
    } else if (c == ']') {
      in_class = false;
    }
    advance();
    if (ch == -1) return fail();
    if (ch == '/' && !in_class) break;
  }
  advance();
  uint32_t taken = 0;
  for (;;) {
    uint32_t bit;
    switch (ch) {
      case 'd':
        bit = 32;
        break;
      case 's':
        bit = 64;
        break;
      case 'v':
        bit = 128;
        break;
      case 'g':
        bit = 1;
        break;
      case 'i':
        bit = 2;
        break;
      case 'm':
        bit = 4;
        break;
      case 'u':
        bit = 8;
        break;
      case 'y':
        bit = 16;
        break;
      default:
        bit = 0;
    }
    if (!bit || (taken & bit)) break;
    taken |= bit;
    advance();
  }
  t->type = REGEXP_LITERAL;
  t->end = position;
  set_value(t, s, position);
  next();
  return true;
}

}  // namespace nubrix
