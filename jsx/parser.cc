#include "jsx/parser.h"

#include "utils/codec.h"
#include "utils/console.h"
#include "utils/error.h"

namespace nubrix {

namespace {

// Words after which an operand starts, so a `/` there begins a regular expression:
// `yield /a+/g`, `case /x/:`, `throw /x/`.
const char* const kOperandKeywords[] = {"yield",  "await", "case", "throw", "void",
                                        "delete", "do",    "new",  nullptr};
// Statement heads whose `)`, like that of an `if`, may be followed by an operand.
const char* const kStatementHeads[] = {"while", "for", "with", nullptr};
// Words after which a `{` opens a block.
const char* const kBlockKeywords[] = {"try", "finally", "do", nullptr};

}  // namespace

Parser::Parser(const String16& source, const String& source_path, bool jsx, bool clean)
    : scanner(nullptr),
      out(&main_output),
      path(source_path),
      is_jsx(jsx),
      clean_comment(clean),
      source_text(source),
      texts(output_texts()) {
  scanner = new Scanner(source_text.data(), source_text.length(), clean_comment);
}

Parser::~Parser() {
  nubrix::release(scanner);
}

void Parser::write_moved(String16& text) {
  if (text.is_empty()) return;
  if (capturing) {
    write_captured(text, out);
    text = String16();
    return;
  }
  push_moved_to(out, text);
}

void Parser::output_pieces(ArrayBuffer<const uint16_t*>& pieces, ArrayBuffer<uint32_t>& lengths) {
  flush_pending();
  uint32_t count = main_runs.length();
  pieces = ArrayBuffer<const uint16_t*>(count);
  lengths = ArrayBuffer<uint32_t>(count);
  for (uint32_t i = 0; i < count; i++) {
    pieces[i] = main_runs[i].data;
    lengths[i] = main_runs[i].length;
  }
}

String16 Parser::output() {
  flush_pending();
  if (main_length == 0) return String16();
  // One block for the whole text and its terminator; each run copied once.
  ArrayBuffer<uint16_t> block(0, checked_length(main_length, 1));
  uint16_t* to = block.data();
  for (const OutputRun& run : main_runs) {
    memcpy(to, run.data, (size_t)run.length * sizeof(uint16_t));
    to += run.length;
  }
  *to = 0;
  uint16_t* data = block.collapse();
  return String16(ArrayBuffer<uint16_t>::adopt(data, main_length, main_length + 1));
}

Buffer Parser::output_utf8() {
  ArrayBuffer<const uint16_t*> pieces;
  ArrayBuffer<uint32_t> lengths;
  output_pieces(pieces, lengths);
  return utf16_to_utf8(pieces.data(), lengths.data(), pieces.length());
}

void Parser::track_output(const uint16_t* s, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    if (is_line_break_unit(s[i])) {
      map_line_++;
      map_column_ = 0;
    } else {
      map_column_++;
    }
  }
}

void Parser::map_token() {
  TokenData* t = cur();
  if (t->type == EOS || t->type == ILLEGAL) return;
  map_source(t->start);
}

void Parser::map_source(uint32_t start) {
  const uint16_t* u = source_text.data();
  if (start < map_source_at_) {
    // Back to an earlier place (a name kept by a rewrite): lines are counted back.
    for (uint32_t i = start; i < map_source_at_; i++) map_source_line_ -= is_line_break_unit(u[i]);
    map_line_start_ = start;
    while (map_line_start_ > 0 && !is_line_break_unit(u[map_line_start_ - 1])) map_line_start_--;
  }
  for (uint32_t i = map_source_at_; i < start; i++) {
    if (is_line_break_unit(u[i])) {
      map_source_line_++;
      map_line_start_ = i + 1;
    }
  }
  map_source_at_ = start;
  source_map_->add(map_line_, map_column_, map_source_line_, start - map_line_start_);
}

void Parser::keep_line_feeds() {
  TokenData* t = cur();
  String16 before = scanner->take_before(t);
  for (uint32_t i = 0; i < before.length(); i++) {
    if (is_line_break_unit(before[i])) write(T_LF);
  }
  t->before = String16();
  check_line();
}

#if NUBRIX_CHECKS
void Parser::line_drift() {
  TokenData* t = cur();
  fatal(__FILE__, __LINE__, __func__,
        "line invariant: %s at line:%d, pos:%d, %s is written on output line %lld",
        token_name(t->type), t->line + 1, (int)t->end, path.c_str(), (long long)lines_written + 1);
}
#endif

void Parser::flush_before_text() {
  TokenData* t = scanner->current;
  if (t->before_is_range) {
    if (t->start == t->before_from) {
      t->before_is_range = false;
      return;
    }
    if (!capturing) {
      t->before_is_range = false;
      emit_source(t->before_from, t->start);
      return;
    }
    String16 before = scanner->take_before(t);
    write_captured(before, &main_output);
    return;
  }
  String16& before = t->before;
  if (before.is_empty()) return;
  if (capturing) {
    write_captured(before, &main_output);
    before = String16();
    return;
  }
  push_moved_to(&main_output, before);
}

void Parser::write_captured(const String16& text, BasicStringBuilder* target, bool keep) {
  if (target != &main_output) {
    // A side builder (a markup vdata attribute): captured when it is moved into
    // place, so the capture holds exactly the text in its final order.
    note_side_lines(text);
    target->push(text);
    return;
  }
  if (keep) capture.push(text);
  // Only the copy inside the comment in the main output needs defusing.
  if (!in_field_comment) {
    push_main_run(text, true);
    return;
  }
  uint32_t n = text.length();
  const uint16_t* u = text.data();
  bool unsafe = comment_last_star && u[0] == '/';
  for (uint32_t i = 0; i + 1 < n && !unsafe; i++) unsafe = u[i] == '*' && u[i + 1] == '/';
  if (!unsafe) {
    push_main_run(text, true);
  } else {
    String16 safe;
    bool star = comment_last_star;
    for (uint32_t i = 0; i < n; i++) {
      if (star && u[i] == '/') safe.push((uint16_t)' ');
      safe.push(u[i]);
      star = u[i] == '*';
    }
    push_moved_to(&main_output, safe);
  }
  comment_last_star = u[n - 1] == '*';
}

void Parser::expect(Text entry, uint32_t t) {
  write(entry);
  advance();
  flush_before();
  if (type() != t) syntax_error();
}

void Parser::syntax_error() {
  raise_error("SyntaxError: Unexpected token");
}

void Parser::refused(const char* hint) {
  error_hint_ = hint;
  syntax_error();
}

void Parser::raise_error(const char* message) {
  error_start_ = cur()->start;
  throw Error(ERR_SYNTAX, "%s\nline:%d, pos:%d, %s", message, cur()->line + 1, (int)cur()->end,
              path.c_str());
}

void Parser::raise_error(const String& message) {
  raise_error(message.c_str());
}

void Parser::enter_nesting() {
  if (++nesting > kMaxNesting) {
    raise_error(String::format("SyntaxError: Nesting deeper than %d levels", kMaxNesting));
  }
}

void Parser::transform() {
  advance();
  flush_before();
  if (type() == SHEBANG) {
    pass_through();
    advance();
    flush_before();
  }
  while (type() != EOS) {
    if (type() != EXPORT || scanner->previous_type == PERIOD || !parse_export()) parse_element();
    advance();
    flush_before();
  }
  write_trailer();
  flush_pending();
}

void Parser::parse_element() {
  // The look-back after an if condition applies to this one token only.
  bool after_if = after_if_condition;
  after_if_condition = false;
  flush_before();
  dispatch(after_if);
}

void Parser::dispatch(bool after_if) {
  uint32_t t = type();
  // After a period every keyword is a property name: `x.class`, `p.import(...)`.
  if (is_name(t, NAME_PROPERTY) && scanner->previous_type == PERIOD) {
    pass_through();
    return;
  }
  // A keyword as an object key or a method name: `{class: 1}`, `{ import() {} }`.
  if ((is_word(t) || t == IN || t == INSTANCEOF || t == TYPEOF) && word_is_key()) {
    pass_through();
    return;
  }
  switch (t) {
    case LPAREN: {
      bool head = previous_word_is(kStatementHeads);
      write_token(T_LPAREN);
      parse_group(RPAREN);
      write_token(T_RPAREN);
      if (head) after_if_condition = true;
      return;
    }
    case LBRACK:
      write_token(T_LBRACK);
      parse_group(RBRACK);
      write_token(T_RBRACK);
      return;
    case LBRACE: {
      bool function_body = pending_function != kNoFunction;
      bool expression =
          function_body ? pending_function == kFunctionExpression : !brace_starts_block();
      pending_function = kNoFunction;
      write_token(T_LBRACE);
      parse_group(RBRACE, function_body || !expression);
      write_token(T_RBRACE);
      if (expression) expression_brace_start = cur()->start;
      return;
    }
    case DIV:
    case ASSIGN_DIV:
      if (expression_may_start(after_if)) {
        parse_regexp();
      } else {
        write_token(t == DIV ? T_DIV : T_ASSIGN_DIV);
      }
      return;
    case IF:
      parse_if();
      return;
    case IMPORT:
      parse_import();
      return;
    case CLASS:
      if (scanner->previous_type == PERIOD) {
        pass_through();
      } else {
        bool expression = function_is_expression();
        parse_class();
        if (expression) expression_brace_start = cur()->start;
      }
      return;
    case STATIC: {
      // A variable named static in a script (`var static;`); `static x` and the
      // like outside a class body stay refused.
      uint32_t next = peek_type();
      if (is_word(next) || next == MUL || next == LBRACK || next == LBRACE ||
          next == STRING_LITERAL || next == NUMBER_LITERAL || next == ILLEGAL) {
        syntax_error();
      }
      pass_through();
      return;
    }
    case FUNCTION:
      pending_function = function_is_expression() ? kFunctionExpression : kFunctionDeclaration;
      pass_through();
      return;
    case XML_ELEMENT_TAG:
      if (in_attribute_value) syntax_error();
      parse_xml_element(false, after_if);
      return;
    case XML_COMMENT:
      if (!is_jsx || in_attribute_value) syntax_error();
      write_xml_comment();
      return;
    case DOLLAR_BRACE:
      parse_template();
      return;
    case INSTANCEOF:
    case IN:
    case TYPEOF:
    case NUMBER_LITERAL:
    case STRING_LITERAL:
    case IDENTIFIER:
    case AS:
    case ASYNC:
    case FROM:
    case OF:
    case RETURN:
    case VAR:
    case LET:
    case DEFAULT:
    case CONST:
    case EVENT:
    case ELSE:
    case GET:
    case SET:
      pass_through();
      return;
    default:
      break;
  }
  if (is_table_operator(t)) {
    write_token((Text)operator_text(t));
    return;
  }
  syntax_error();
}

void Parser::parse_group(uint32_t close, bool block) {
  bool outer_block = in_block;
  uint8_t outer_function = pending_function;
  in_block = block;
  pending_function = kNoFunction;
  enter_nesting();
  depth++;
  for (;;) {
    advance();
    flush_before();
    uint32_t t = type();
    if (t == close) break;
    if (t == EOS) syntax_error();
    parse_element();
  }
  depth--;
  leave_nesting();
  flush_before();
  in_block = outer_block;
  pending_function = outer_function;
}

bool Parser::expression_may_start(bool after_if) const {
  uint32_t p = scanner->previous_type;
  // A word after a period is a member name: `a.in / b`, `x.return / 2`.
  bool word = is_word(p) || p == INSTANCEOF || p == IN || p == TYPEOF;
  if (word && scanner->before_previous_type == PERIOD) return false;
  if (p == RBRACE) return scanner->previous_start != expression_brace_start;
  // ILLEGAL and SHEBANG stand before the first token of the file only: an
  // expression may start there too.
  if (p == LPAREN || p == LBRACK || expects_operand_after(p) || p == OF || p == RETURN ||
      p == ELSE || p == DEFAULT || p == ILLEGAL || p == SHEBANG) {
    return true;
  }
  if (p == IDENTIFIER) return previous_word_is(kOperandKeywords);
  if (p == RPAREN) return after_if;
  if (p == RBRACK) return cur()->newline_before;
  return false;
}

// A word is a key after `{` or `,` when `:` follows (in an object literal or a
// destructuring pattern; no keyword may stand there otherwise), and a method name in
// an object literal when `(` follows, also after `get`, `set`, `async` or `*` on the
// same line (`{ get static() {} }`). Inside a block `if (` stays a statement.
bool Parser::word_is_key() const {
  uint32_t p = scanner->previous_type;
  uint32_t next = peek_type();
  if (next == COLON) return p == LBRACE || p == COMMA;
  if (next != LPAREN || in_block) return false;
  if (p == LBRACE || p == COMMA) return true;
  return (p == GET || p == SET || p == ASYNC || p == MUL) && !cur()->newline_before;
}

bool Parser::previous_word_is(const char* const* words) const {
  if (scanner->previous_type != IDENTIFIER || scanner->before_previous_type == PERIOD) {
    return false;
  }
  const uint16_t* text = scanner->source + scanner->previous_start;
  uint32_t n = scanner->previous_end - scanner->previous_start;
  for (; *words; words++) {
    const char* w = *words;
    uint32_t i = 0;
    while (i < n && w[i] && text[i] == (uint8_t)w[i]) i++;
    if (i == n && !w[i]) return true;
  }
  return false;
}

// Whether the current `{` opens a block rather than an object literal:
//   if (a) {}   do {}   try {} finally {}   (x) => {}   a: {}   } {   ; {
// A function body is decided by its `function` (see dispatch).
bool Parser::brace_starts_block() const {
  uint32_t p = scanner->previous_type;
  switch (p) {
    case RPAREN:
    case SEMICOLON:
    case ELSE:
    case RBRACE:
    case ILLEGAL:
    case SHEBANG:
      return true;
    case RETURN:
      // `return` and a line break end the statement.
      return cur()->newline_before;
    case COLON:
    case LBRACE:
      // A label or a case in a block, or a block in a block; in an object literal or
      // in parentheses, a value.
      return in_block;
    case GT: {
      // The body of an arrow function (`=>` scans as `=` then `>`).
      uint32_t s = scanner->previous_start;
      return s > 0 && scanner->source[s - 1] == '=';
    }
    case IDENTIFIER:
      return previous_word_is(kBlockKeywords);
    default:
      return false;
  }
}

// Whether the current `function` (or `class`) starts an expression rather than a
// declaration: `x = function () {}`, `(function () {})`, `!function () {}()`.
bool Parser::function_is_expression() const {
  uint32_t p = scanner->previous_type;
  bool direct = true;
  if (p == ASYNC) {
    // `async function`: what stands before the `async` decides.
    p = scanner->before_previous_type;
    direct = false;
  }
  switch (p) {
    case COLON:
    case LBRACE:
      return !in_block;
    case RETURN:
      return !direct || !cur()->newline_before;
    case LPAREN:
    case LBRACK:
    case COMMA:
    case CONDITIONAL:
    case OF:
      return true;
    case IDENTIFIER:
      return direct && previous_word_is(kOperandKeywords);
    default:
      return p >= ASSIGN && p <= TYPEOF;
  }
}

// An attribute value in braces is written as it stands, so it must be an object
// literal: {a, b: c + 1, 'k': v, [x]: y, ...z, m() {}}. Anything else (`{c + 1}`)
// would not parse and is refused.
void Parser::parse_object_literal() {
  enum { KEY, AFTER_KEY, VALUE, AFTER_VALUE } state = KEY;
  bool shorthand_ok = false;
  uint32_t value_tokens = 0;
  write_token(T_LBRACE);
  enter_nesting();
  depth++;
  for (;;) {
    advance();
    flush_before();
    uint32_t t = type();
    // Markup and markup comments are refused inside attribute values.
    if (t == EOS || t == XML_ELEMENT_TAG || t == XML_COMMENT) syntax_error();
    if (state == KEY) {
      if (t == RBRACE) break;
      if (t == PERIOD) {
        // Spread: three periods, then a value.
        for (int i = 0; i < 3; i++) {
          if (type() != PERIOD) raise_error("Xml Syntax error");
          write_token(T_PERIOD);
          if (i < 2) {
            advance();
            flush_before();
          }
        }
        state = VALUE;
        value_tokens = 0;
        continue;
      }
      if (t == LBRACK) {
        dispatch(false);
        shorthand_ok = false;
        state = AFTER_KEY;
        continue;
      }
      if (t == MUL) {
        write_token(T_MUL);
        continue;
      }
      if (!is_name(t, NAME_KEY)) raise_error("Xml Syntax error");
      write_value();
      uint32_t next = peek_type();
      bool prefix = (t == GET || t == SET || t == ASYNC) &&
                    (next == LBRACK || next == MUL || is_name(next, NAME_PREFIXED_KEY));
      if (prefix) continue;  // get/set/async before a method name
      const String16& name = val();
      shorthand_ok = is_identifier_like(t) && !is_reserved_name(name);
      state = AFTER_KEY;
      continue;
    }
    if (state == AFTER_KEY) {
      if (t == COLON) {
        write_token(T_COLON);
        state = VALUE;
        value_tokens = 0;
        continue;
      }
      if (t == LPAREN) {
        dispatch(false);
        advance();
        flush_before();
        if (type() != LBRACE) raise_error("Xml Syntax error");
        dispatch(false);
        state = AFTER_VALUE;
        continue;
      }
      if ((t == COMMA || t == RBRACE) && shorthand_ok) {
        if (t == RBRACE) break;
        write_token(T_COMMA);
        state = KEY;
        continue;
      }
      raise_error("Xml Syntax error");
    }
    if (state == VALUE && (t == COMMA || t == RBRACE)) {
      if (value_tokens == 0) raise_error("Xml Syntax error");
      if (t == RBRACE) break;
      write_token(T_COMMA);
      state = KEY;
      continue;
    }
    if (state == VALUE) {
      parse_element();
      value_tokens++;
      continue;
    }
    // AFTER_VALUE (after a method body)
    if (t == RBRACE) break;
    if (t != COMMA) raise_error("Xml Syntax error");
    write_token(T_COMMA);
    state = KEY;
  }
  depth--;
  leave_nesting();
  write_token(T_RBRACE);
}

// <!-- text -->  ->  /***text**/ ; the text never holds '*' (the scanner wrote 'x'),
// and a leading '/' is kept apart so that it cannot close the comment at once.
String16 Parser::xml_comment_text(const String16& text) const {
  String16 comment(texts[T_XML_COMMENT_OPEN]);
  if (text.length() && text[0] == '/') comment.push((uint16_t)' ');
  comment.push(text);
  comment.push(texts[T_XML_COMMENT_CLOSE]);
  return comment;
}

void Parser::write_xml_comment() {
  String16 comment = xml_comment_text(val());
  write_moved(comment);
}

void Parser::parse_regexp() {
  if (!scanner->scan_regexp()) raise_error("RegExp Syntax error");
  pass_through();
}

// if (cond) stmt: the one token after a condition without braces may start a
// regular expression or markup (`if (a) /x/.test(s)`).
void Parser::parse_if() {
  flush_before();
  write_value();
  advance();
  flush_before();
  if (type() != LPAREN) syntax_error();
  write(T_LPAREN);
  parse_group(RPAREN);
  write(T_RPAREN);
  if (peek_type() == LBRACE) return;
  advance();
  flush_before();
  after_if_condition = true;
  enter_nesting();  // `if (a) if (b) ...` nests without brackets
  parse_element();
  leave_nesting();
  after_if_condition = false;
}

// A template with substitutions. The scanner delivers `text${ as DOLLAR_BRACE whose
// value is the back-quote and the text; each later piece is scanned from the end of
// the substitution's `}`. Pieces are written exactly as they stand, line breaks
// included, and the whitespace before a `}` stays inside the substitution.
void Parser::parse_template() {
  if (!cur()->has_value()) syntax_error();
  enter_nesting();
  // A substitution holds an expression.
  bool outer_block = in_block;
  in_block = false;
  write_value();
  for (;;) {
    write(T_DOLLAR_BRACE);
    advance();  // the '{'
    while (peek_type() != RBRACE) {
      advance();
      flush_before();
      if (type() == EOS) syntax_error();
      parse_element();
    }
    advance();  // the '}'
    flush_before();
    write(T_RBRACE);
    scanner->scan_template_piece(cur()->end);
    advance();
    uint32_t t = type();
    if (t == TEMPLATE_END) {
      flush_before();
      write_value();
      break;
    }
    if (t != DOLLAR_BRACE) syntax_error();
    write_value();
  }
  in_block = outer_block;
  leave_nesting();
}

// ---- restricted expression reader (field initialisers, attribute values) ----

void Parser::parse_operand() {
  enter_nesting();
  for (;;) {
    advance();
    flush_before();
    uint32_t t = type();
    if (is_identifier_like(t)) {
      parse_member_chain();
      parse_postfix();
      break;
    }
    switch (t) {
      case XML_ELEMENT_TAG:
        if (in_attribute_value) syntax_error();
        parse_xml_element(false);
        break;
      case XML_COMMENT:
        if (!is_jsx || in_attribute_value) syntax_error();
        // A markup comment stands before the operand (`x = <!-- note --> 1;`). In a
        // captured initialiser the surrounding comment is closed around it.
        if (capturing) write_out_only(T_COMMENT_CLOSE);
        in_field_comment = false;
        write_xml_comment();
        if (capturing) write_out_only(T_COMMENT_OPEN);
        in_field_comment = true;
        comment_last_star = false;
        continue;
      case DOLLAR_BRACE:
        parse_template();
        break;
      case LBRACE:
        if (in_attribute_value) {
          parse_object_literal();
          break;
        }
        dispatch(false);
        break;
      case LPAREN:
      case LBRACK:
        dispatch(false);
        break;
      case INC:
      case DEC:
        if (!is_identifier_like(peek_type())) syntax_error();
        write(t == INC ? T_INC : T_DEC);
        continue;
      case ADD:
      case SUB:
      case NOT:
      case BIT_NOT:
        write((Text)operator_text(t));
        continue;
      case TYPEOF:
        pass_through();
        continue;
      case DIV:
      case ASSIGN_DIV:
        parse_regexp();
        break;
      case NUMBER_LITERAL:
      case STRING_LITERAL:
        pass_through();
        break;
      default:
        syntax_error();
    }
    break;
  }
  leave_nesting();
}

void Parser::parse_member_chain() {
  flush_before();
  write_value();
  for (;;) {
    uint32_t next = peek_type();
    if (next == PERIOD) {
      advance();
      flush_before();
      write(T_PERIOD);
      advance();
      flush_before();
      if (!is_identifier_like(type())) syntax_error();
      write_value();
    } else if (next == LBRACK) {
      parse_operand();
    } else {
      break;
    }
  }
}

void Parser::parse_postfix() {
  uint32_t next = peek_type();
  if (next == LPAREN) {
    advance();
    flush_before();
    write(T_LPAREN);
    parse_group(RPAREN);
    write(T_RPAREN);
  } else if (next == INC || next == DEC) {
    advance();
    flush_before();
    write(next == INC ? T_INC : T_DEC);
  }
}

void Parser::parse_operator_tail() {
  for (;;) {
    uint32_t next = peek_type();
    if (is_assignment(next)) {
      advance();
      syntax_error();
    }
    if (next == CONDITIONAL) {
      advance();
      flush_before();
      write(T_CONDITIONAL);
      parse_operand();
      parse_operator_tail();
      advance();
      flush_before();
      if (type() != COLON) syntax_error();
      write(T_COLON);
      parse_operand();
      continue;
    }
    if (in_attribute_value) return;
    if (is_binary_operator(next)) {
      advance();
      flush_before();
      if (next == INSTANCEOF || next == IN) {
        write_value();
      } else {
        write((Text)operator_text(next));
      }
      parse_operand();
      continue;
    }
    if (next == XML_ELEMENT_TAG) {
      advance();
      flush_before();
      write(T_LT);
      write_value();
      continue;
    }
    return;
  }
}

}  // namespace nubrix
