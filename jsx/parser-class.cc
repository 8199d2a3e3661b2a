// Class declarations: members are checked and copied through; a field with an
// initialiser becomes a comment in place and its initialiser moves into an
// __extend(...) block of the trailer; `event onX;` expands into three accessors.
#include "jsx/ascii.h"
#include "jsx/parser.h"

namespace nubrix {

namespace {

// The sentences that name the class forms the dialect leaves out.
const char kStaticField[] = "a static field is not supported; assign it after the class";
const char kStaticBlock[] = "a static block is not supported";
const char kPrivateName[] = "a private name (#x) is not supported";
const char kDecorator[] = "a decorator is not supported";
const char kBareField[] = "a field needs an initialiser (name = value;)";
const char kNestedField[] =
    "a field is supported only in a named top-level class, not in an anonymous or nested one";

// The three generated members for `event onX;`, concatenated without separators.
String16 event_accessors(const String16& x) {
  static const String16 pieces[9] = {String16("get on"),
                                     String16("() { return this.getNoticer('"),
                                     String16("') }"),
                                     String16("set on"),
                                     String16("(func) { this.addDefaultListener('"),
                                     String16("', func) }"),
                                     String16("trigger"),
                                     String16("(ev,is_ev) { return this.$trigger('"),
                                     String16("',ev,is_ev) }")};
  String16 text;
  for (int i = 0; i < 3; i++) {
    text.push(pieces[i * 3]);
    text.push(x);
    text.push(pieces[i * 3 + 1]);
    text.push(x);
    text.push(pieces[i * 3 + 2]);
  }
  return text;
}

}  // namespace

void Parser::parse_class() {
  pass_through();
  next_member();
  int64_t record = -1;
  if (is_identifier_like(type())) {
    pass_through();
    if (depth == 0) {
      MemberDataExpression data;
      data.name = val();
      class_data.push(std::move(data));
      record = class_data.length() - 1;
    }
    next_member();
  }
  if (type() == EXTENDS) {
    // The base is any expression up to the body's brace: `extends mixin(A, B) {`.
    pass_through();
    for (;;) {
      advance();
      flush_before();
      if (type() == LBRACE) break;
      if (type() == EOS) syntax_error();
      parse_element();
    }
  }
  if (type() != LBRACE) syntax_error();
  write(T_LBRACE);
  enter_nesting();
  parse_class_body(record >= 0 ? &class_data[(uint32_t)record] : nullptr);
  leave_nesting();
}

void Parser::parse_class_body(MemberDataExpression* record) {
  for (;;) {
    next_member();
    uint32_t t = type();
    switch (t) {
      case RBRACE:
        write(T_RBRACE);
        return;
      case SEMICOLON:
        write(T_SEMICOLON);
        continue;
      case EVENT:
        parse_event();
        continue;
      case GET:
      case SET:
        parse_accessor(record);
        continue;
      case STATIC:
      case ASYNC: {
        if (peek_type() == LPAREN) {
          parse_method();  // a method named static or async
          continue;
        }
        pass_through();
        next_member();
        uint32_t m = type();
        if (t == STATIC && (m == GET || m == SET)) {
          parse_accessor(nullptr);
          continue;
        }
        if (t == STATIC && m == ASYNC) {
          pass_through();
          next_member();
          m = type();
        }
        if (m == MUL) {
          write(T_MUL);
          next_member();
          m = type();
        }
        if (t == STATIC && m == LBRACE) refused(kStaticBlock);
        // A static field fails in parse_method at the token after its name, where
        // the error has always been reported; the hint names the form.
        if (t == STATIC && is_name(m, NAME_MEMBER) && peek_type() != LPAREN) {
          error_hint_ = kStaticField;
        }
        if (!is_name(m, NAME_METHOD) && m != LBRACK) syntax_error();
        parse_method();
        error_hint_ = nullptr;
        continue;
      }
      case MUL:
        write(T_MUL);
        next_member();
        if (!is_name(type(), NAME_METHOD) && type() != LBRACK) syntax_error();
        parse_method();
        continue;
      default:
        // A method may have any word or a computed key as its name: `if() {}`,
        // `[Symbol.iterator]() {}`; a field only a plain name.
        if (t == LBRACK || (is_name(t, NAME_METHOD) && peek_type() == LPAREN)) {
          parse_method();
          continue;
        }
        if (t == ILLEGAL && source_text[cur()->start] == '#') refused(kPrivateName);
        if (t == AT) refused(kDecorator);
        if (!is_name(t, NAME_MEMBER)) syntax_error();
        parse_field(record);
        continue;
    }
  }
}

// A member's name: a word, a string, or a computed key `[expression]`.
void Parser::parse_member_name() {
  if (type() == LBRACK) {
    write_token(T_LBRACK);
    parse_group(RBRACK);
    write_token(T_RBRACK);
    return;
  }
  flush_before();
  write_value();
}

void Parser::parse_method() {
  parse_member_name();
  next_member();
  if (type() != LPAREN) syntax_error();
  write(T_LPAREN);
  parse_group(RPAREN);
  write(T_RPAREN);
  next_member();
  if (type() != LBRACE) syntax_error();
  write(T_LBRACE);
  parse_group(RBRACE);
  write(T_RBRACE);
}

// get name() {...} takes no parameter; set name(value) {...} exactly one plain name.
void Parser::parse_accessor(MemberDataExpression* record) {
  bool is_set = type() == SET;
  uint32_t next = peek_type();
  if (next != LBRACK && !is_name(next, NAME_AFTER_GET_SET)) {
    if (next == LPAREN) {
      parse_method();
    } else {
      parse_field(record);
    }
    return;
  }
  if (next != LBRACK && !is_name(next, NAME_METHOD)) {
    parse_field(record);
    return;
  }
  pass_through();
  next_member();
  parse_member_name();
  next_member();
  if (type() != LPAREN) raise_error("Syntax error, define property accessor");
  write(T_LPAREN);
  if (is_set) {
    next_member();
    if (!is_identifier_like(type())) raise_error("syntax error, define set property accessor");
    pass_through();
  }
  next_member();
  if (type() != RPAREN) raise_error("Syntax error, define property accessor");
  write(T_RPAREN);
  next_member();
  if (type() != LBRACE) raise_error("Syntax error, define property accessor");
  write(T_LBRACE);
  parse_group(RBRACE);
  write(T_RBRACE);
}

//   count = 0;   ->   /*count = 0*/     and in the trailer:  count: 0,
void Parser::parse_field(MemberDataExpression* record) {
  if (!record) refused(kNestedField);
  if (peek_type() != ASSIGN) refused(kBareField);
  write(T_COMMENT_OPEN);
  String16 name = val();
  pass_through();
  advance();
  flush_before();
  write(T_ASSIGN);
  capture.clear();
  capturing = true;
  comment_last_star = false;
  parse_operand();
  parse_operator_tail();
  capturing = false;
  advance();
  // The whitespace before the ';' still stands inside the comment, but is not part
  // of the initialiser.
  if (cur()->has_before()) {
    String16 before = scanner->take_before(cur());
    write_captured(before, &main_output, false);
  }
  if (type() != SEMICOLON) syntax_error();
  BasicStringBuilder& slot = record->fields[name];
  slot.clear();
  slot.append_moved(capture);
  write(T_COMMENT_CLOSE);
}

void Parser::parse_event() {
  next_member();
  if (type() != IDENTIFIER) syntax_error();
  const String16& name = val();
  if (name.length() < 3 || name[0] != 'o' || name[1] != 'n' || !is_name_start(name[2])) {
    raise_error("Syntax error, event name incorrect");
  }
  String16 text = event_accessors(name.substring(2, name.length()));
  write_moved(text);
  next_member();
  if (type() != SEMICOLON) syntax_error();
}

// __extend(Panel.prototype,{
//   count: 0,
// },1);
void Parser::write_class_fields(const MemberDataExpression& record) {
  // \n__extend(NAME.prototype,{\n   then the fields, then },1);
  write(T_LF, T___EXTEND, T_LPAREN, record.name, T_PERIOD, T_PROTOTYPE, T_COMMA, T_LBRACE, T_LF);
  for (auto it = record.fields.begin(); it != record.fields.end(); ++it) {
    //   KEY:CAPTURED,\n
    write(T_TWO_SPACES, it.key(), T_COLON);
    for (const String16& piece : it.value()) write(piece);
    write(T_COMMA, T_LF);
  }
  // },1);
  write(T_RBRACE, T_COMMA, T_1, T_RPAREN, T_SEMICOLON);
}

}  // namespace nubrix
