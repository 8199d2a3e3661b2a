// Module syntax: every import becomes a `const` fed by require(), exported
// declarations are marked in place, and the module trailer assigns `exports`.
#include "jsx/ascii.h"
#include "jsx/parser.h"

namespace nubrix {

namespace {

// Whether a line break (or a comment that holds one) stands between source indexes
// `from` and `to`.
bool line_break_between(const String16& source, uint32_t from, uint32_t to) {
  for (uint32_t i = from; i < to; i++) {
    if (source[i] == '\r' || is_line_break_unit(source[i])) return true;
  }
  return false;
}

// The binding name of a bare import: './list-item.view.jsx' gives list_item_view;
// empty when the file name does not make a valid name ('./2d.js', '.hidden').
String16 derive_import_name(const String16& literal) {
  if (literal.length() < 2) return String16();
  String16 path = literal.substring(1, literal.length() - 1);
  if (path.length() && path[path.length() - 1] == '/') path = path.substring(0, path.length() - 1);
  int64_t slash = path.last_index_of('/');
  String16 name = slash >= 0 ? path.substring((uint32_t)slash + 1, path.length()) : path;
  int64_t dot = name.last_index_of('.');
  if (dot >= 0) name = name.substring(0, (uint32_t)dot);
  if (name.is_empty()) return String16();
  Array<uint16_t, BufferContainer<uint16_t>> units(name.length());
  for (uint32_t i = 0; i < name.length(); i++) {
    uint16_t c = name[i];
    units[i] = (c == '.' || c == '-') ? '_' : c;
    if (!(i == 0 ? is_name_start(units[i]) : is_name_part(units[i]))) return String16();
  }
  return String16(units.data(), units.length());
}

}  // namespace

// export var a = 1, {b, c: [d]} = o;  ->  /*export*/ var a = 1, {b, c: [d]} = o;
//                                        (a, b and d go to the trailer)
// export function* g() {}              ->  /*export*/ function* g() {}   (g too)
// export {a, b};                       ->  module._export= {a, b};
// export * from './m';                 ->  module._export=
// (({default:$,...$$})=>$$)(require('./m')); export * as ns from './m';           ->
// module._export= {ns:require('./m')}; export default {name: 'x'};          ->   exports.default=
// {name: 'x'}; export default class App {}          ->   /*export*/ class App {}   (App is the
// default)
bool Parser::parse_export() {
  advance();
  uint32_t t = type();
  if (t == DEFAULT) return parse_export_default();
  if (t == LBRACE || t == MUL) {
    write(T_MODULE_EXPORT, T_ASSIGN);
    if (t == LBRACE) {
      parse_export_list();
    } else {
      parse_export_all();
    }
    end_statement();
    return true;
  }
  if (t == LPAREN || t == LBRACK) {
    write(T_MODULE_EXPORT, T_ASSIGN);
    return false;
  }
  if (t == VAR || t == LET || t == CONST) {
    write(T_EXPORT_MARK);
    parse_exported_bindings();
    return true;
  }
  String16 name;
  if (mark_declaration(name)) {
    export_names.push(name);
    return false;
  }
  if (!is_identifier_like(t)) syntax_error();
  write(T_MODULE_EXPORT, T_ASSIGN);
  return false;
}

// After `export default`: a named declaration is marked and its name becomes the
// default export; any other value is assigned in place:
//   export default function () {}   ->   exports.default= function () {}
//   export default async () => 1;   ->   exports.default= async () => 1;
//   export default 'x';             ->   exports.default= 'x';
// An anonymous function or class is a whole statement, as the declaration it stands
// for: the line after it does not continue it (see end_statement).
bool Parser::parse_export_default() {
  if (default_exported) syntax_error();
  default_exported = true;
  flush_before();  // the blank between `export` and `default` goes before the replacement
  advance();
  uint32_t t = type();
  uint32_t next = peek_type();
  String16 name;
  bool named = false;
  switch (t) {
    case VAR:
    case LET:
    case CONST:
      named = true;
      break;
    case CLASS:
      named = is_identifier_like(next);
      break;
    case FUNCTION:
      named = function_name_after(cur()->end, name);
      break;
    case ASYNC:
      named = next == FUNCTION && function_name_after(scanner->peek_token()->end, name);
      break;
    default:
      break;
  }
  if (named) {
    mark_declaration(name);
    default_export_name = name;
    return false;
  }
  bool value = t == LPAREN || t == LBRACK || t == LBRACE || t == DIV || t == ASSIGN_DIV ||
               is_identifier_like(t) || t == STRING_LITERAL || t == NUMBER_LITERAL ||
               t == DOLLAR_BRACE || t == TYPEOF || t == NOT || t == BIT_NOT || t == ADD ||
               t == SUB || t == INC || t == DEC || t == CLASS || t == FUNCTION ||
               (t == XML_ELEMENT_TAG && is_jsx) ||
               (t == IMPORT && (next == LPAREN || next == PERIOD));
  if (!value) syntax_error();
  write(T_EXPORTS_DEFAULT, T_ASSIGN);
  if (t == CLASS) {
    parse_element();
    end_statement();
    return true;
  }
  if (t == FUNCTION || (t == ASYNC && next == FUNCTION)) {
    // Up to the end of the body: the first brace group after the parameters.
    for (;;) {
      bool body = type() == LBRACE;
      parse_element();
      if (body) break;
      advance();
      flush_before();
      if (type() == EOS) syntax_error();
    }
    end_statement();
    return true;
  }
  return false;
}

// var|let|const|class|function NAME, function* NAME and async function[*] NAME after
// `export` (and `default`): writes the mark and gives the declared name. False for
// anything else.
bool Parser::mark_declaration(String16& name) {
  uint32_t t = type();
  if (t == ASYNC) {
    write(T_EXPORT_MARK);
    pass_through();
    advance();
    flush_before();
    if (type() != FUNCTION) syntax_error();
  } else if (t == VAR || t == LET || t == CONST || t == CLASS || t == FUNCTION) {
    write(T_EXPORT_MARK);
  } else {
    return false;
  }
  if (type() == FUNCTION && peek_type() == MUL) {
    if (!function_name_after(cur()->end, name)) {
      advance();
      advance();
      syntax_error();
    }
    return true;
  }
  if (!is_identifier_like(peek_type())) {
    advance();
    syntax_error();
  }
  name = scanner->value(scanner->peek_token());
  return true;
}

// Whether a function name follows source index `from` (the end of `function`), after
// an optional `*`; it is read apart, without moving the parser's scanner.
bool Parser::function_name_after(uint32_t from, String16& name) const {
  Scanner probe(source_text.data() + from, source_text.length() - from, false);
  uint32_t t = probe.next();
  if (t == MUL) t = probe.next();
  if (!is_identifier_like(t)) return false;
  name = probe.value(probe.current);
  return true;
}

// export const {p, q: [r], ...rest} = o, s = 1;  ->  p, r, rest and s go to the
// trailer; the declaration itself is copied through. Entered with `var`, `let` or
// `const` current; returns with the declaration's last token current.
void Parser::parse_exported_bindings() {
  pass_through();
  for (;;) {
    advance();
    flush_before();
    parse_binding(true);
    // The initialiser: elements up to a comma at this level or the end of the statement.
    parse_binding_default(0);
    if (peek_type() != COMMA) return;
    advance();
    flush_before();
    write_token(T_COMMA);
  }
}

// A binding: a name, or an object or array pattern with its defaults, copied through.
// With `record` every name it binds is appended to export_names.
void Parser::parse_binding(bool record) {
  uint32_t t = type();
  if (is_identifier_like(t)) {
    if (record) export_names.push(val());
    pass_through();
    return;
  }
  if (t != LBRACE && t != LBRACK) syntax_error();
  bool object = t == LBRACE;
  uint32_t close = object ? RBRACE : RBRACK;
  write_token(object ? T_LBRACE : T_LBRACK);
  enter_nesting();
  depth++;
  bool outer_block = in_block;
  in_block = false;
  for (;;) {
    advance();
    flush_before();
    uint32_t m = type();
    if (m == close) break;
    if (m == COMMA) {
      write_token(T_COMMA);
      continue;
    }
    if (m == PERIOD) {
      // The rest element: `...name` or `...[a, b]`.
      write_token(T_PERIOD);
      for (int i = 0; i < 2; i++) {
        advance();
        flush_before();
        if (type() != PERIOD) syntax_error();
        write_token(T_PERIOD);
      }
      advance();
      flush_before();
      parse_binding(record);
      continue;
    }
    if (object && (m == LBRACK || peek_type() == COLON)) {
      // `[key]: pattern` or `key: pattern`; the key binds nothing.
      if (m == LBRACK) {
        dispatch(false);
      } else if (is_name(m, NAME_KEY)) {
        pass_through();
      } else {
        syntax_error();
      }
      advance();
      flush_before();
      if (type() != COLON) syntax_error();
      write_token(T_COLON);
      advance();
      flush_before();
    }
    parse_binding(record);
    parse_binding_default(close);
  }
  in_block = outer_block;
  depth--;
  leave_nesting();
  write_token(object ? T_RBRACE : T_RBRACK);
}

// `= value` after a name or a pattern: inside a pattern up to the next `,` or the
// pattern's closing bracket `close`; with `close` 0, up to the end of the declaration.
void Parser::parse_binding_default(uint32_t close) {
  if (peek_type() != ASSIGN) return;
  advance();
  flush_before();
  write_token(T_ASSIGN);
  do {
    advance();
    flush_before();
    if (type() == EOS) syntax_error();
    parse_element();
  } while (close ? peek_type() != COMMA && peek_type() != close : !declaration_ends_here());
}

// Whether the initialiser of an exported declaration ends after the current token: at
// a `,` or `;`, at the end of the source or a closing bracket, or where a line break
// ends the statement because the next token cannot continue the expression
// (`export let a = 1` and `b()` on the next line).
bool Parser::declaration_ends_here() {
  TokenData* next = scanner->peek_token();
  uint32_t n = next->type;
  if (n == COMMA || n == SEMICOLON || n == EOS || n == RPAREN || n == RBRACK || n == RBRACE) {
    return true;
  }
  if (!line_break_between(source_text, cur()->end, next->start)) return false;
  uint32_t c = type();
  bool operand_end = is_identifier_like(c) || c == NUMBER_LITERAL || c == STRING_LITERAL ||
                     c == REGEXP_LITERAL || c == TEMPLATE_END || c == RPAREN || c == RBRACK ||
                     c == RBRACE || c == XML_ELEMENT_TAG_END || c == INC || c == DEC;
  bool template_next = n == STRING_LITERAL && source_text[next->start] == '`';
  bool cannot_continue = (is_word(n) && n != AS && n != OF) || n == TYPEOF || n == NUMBER_LITERAL ||
                         (n == STRING_LITERAL && !template_next) || n == NOT || n == BIT_NOT ||
                         n == INC || n == DEC || n == AT;
  return operand_end && cannot_continue;
}

// export * from './m';        ->  module._export= (({default:$,...$$})=>$$)(require('./m'));
// export * as ns from './m';  ->  module._export= {ns:require('./m')};
// Every name but `default`, or the whole module under one name. Entered with the `*`
// current; the dropped words keep their line feeds.
void Parser::parse_export_all() {
  flush_before();
  advance();
  bool named = type() == AS;
  if (named) {
    keep_line_feeds();
    advance();
    keep_line_feeds();
    if (!is_name(type(), NAME_EXPORT_LIST)) syntax_error();
    if (type() == DEFAULT) {
      if (default_exported) syntax_error();
      default_exported = true;
    }
    // {NAME:
    write(T_LBRACE);
    write_value();
    write(T_COLON);
    advance();
  } else {
    // (({default:$,...$$})=>$$)(
    write(T_LPAREN, T_LPAREN, T_LBRACE, T_DEFAULT, T_COLON, T_REEXPORT_PARAM, T_COMMA, T_PERIOD,
          T_PERIOD, T_PERIOD, T_REEXPORT_REST, T_RBRACE, T_RPAREN, T_ASSIGN, T_GT, T_REEXPORT_REST,
          T_RPAREN, T_LPAREN);
  }
  if (type() != FROM) syntax_error();
  keep_line_feeds();
  advance();
  keep_line_feeds();
  if (type() != STRING_LITERAL) syntax_error();
  write_require_call();
  if (attributes_follow()) drop_attributes();
  write(named ? T_RBRACE : T_RPAREN);
}

// The names of an export list, checked without consuming anything: true when the
// list is followed by `from` (a re-export).
bool Parser::export_list_has_from() {
  Scanner probe(source_text.data(), source_text.length(), false);
  probe.jump(cur()->end, cur()->line);
  for (;;) {
    probe.scan();
    uint32_t t = probe.peek_token()->type;
    if (t == RBRACE) break;
    if (!is_name(t, NAME_EXPORT_LIST) && t != COMMA) return false;
  }
  probe.scan();
  return probe.peek_token()->type == FROM;
}

// export {a, b};                 ->  module._export= {a, b};
// export {a as b};               ->  module._export= {b: a};
// export {v as "a-b"};           ->  module._export= {"a-b": v};
// export {a, b as c} from './m'; ->  module._export= (($)=>({a:$.a, c:$.b}))(require('./m'));
// export {"a-b" as c} from './m';->  module._export= (($)=>({c:$["a-b"]}))(require('./m'));
void Parser::parse_export_list() {
  bool reexport = export_list_has_from();
  flush_before();
  // (($)=>(
  if (reexport) write(T_LPAREN, T_LPAREN, T_REEXPORT_PARAM, T_RPAREN, T_ASSIGN, T_GT, T_LPAREN);
  write_token(T_LBRACE);
  for (;;) {
    advance();
    flush_before();
    uint32_t t = type();
    if (t == RBRACE) break;
    if (t == COMMA) {
      write_token(T_COMMA);
      continue;
    }
    // A local name is a variable; the names of another module may be any word or a
    // string.
    if (reexport ? !is_name(t, NAME_EXPORT_LIST) : !is_identifier_like(t) && t != DEFAULT) {
      syntax_error();
    }
    String16 name = val();
    uint32_t name_start = cur()->start;
    String16 alias = name;
    bool renamed = false;
    if (peek_type() == AS) {
      advance();
      flush_before();
      advance();
      flush_before();
      if (!is_name(type(), NAME_EXPORT_LIST)) syntax_error();
      alias = val();
      renamed = true;
    }
    if (reexport) {
      if (t == STRING_LITERAL) {
        // ALIAS:$["NAME"]
        write(alias, T_COLON, T_REEXPORT_PARAM, T_LBRACK, name, T_RBRACK);
      } else {
        // ALIAS:$.NAME
        write(alias, T_COLON, T_REEXPORT_PARAM, T_PERIOD, name);
      }
    } else if (renamed) {
      write(alias);
      write(T_COLON);
      map_place(name_start);
      write(name);
    } else {
      write(name);
    }
  }
  write_token(T_RBRACE);
  if (reexport) {
    // ))(
    write(T_RPAREN, T_RPAREN, T_LPAREN);
    advance();  // from
    flush_before();
    advance();
    flush_before();
    if (type() != STRING_LITERAL) syntax_error();
    write_require_call();
    if (attributes_follow()) drop_attributes();
    write(T_RPAREN);
  }
}

// The braces of an import list, copied through with each `as` written as ":", so
// `{a as b}` destructures as `{a : b}`.
void Parser::parse_import_list() {
  write_token(T_LBRACE);
  parse_import_names();
  write_token(T_RBRACE);
}

// The names inside import braces, up to the closing brace (left current). The name
// an export has in its module may be any word or a string (`{"a-b" as ab}`,
// `{function as f}`): as a key of the destructuring pattern it stays as written.
void Parser::parse_import_names() {
  bool after_name = false;
  for (;;) {
    advance();
    flush_before();
    uint32_t t = type();
    if (t == RBRACE) break;
    if (t == COMMA) {
      write_token(T_COMMA);
      after_name = false;
    } else if (t == AS && after_name) {
      write(T_COLON);
      after_name = false;
    } else if (is_name(t, NAME_EXPORT_LIST)) {
      pass_through();
      after_name = true;
    } else {
      syntax_error();
    }
  }
}

void Parser::write_require_call() {
  write(T_REQUIRE);
  write(T_LPAREN);
  pass_through();
  write(T_RPAREN);
}

// Whether import attributes follow the module specifier: `with { type: 'json' }`, or
// the older `assert { … }` on the same line.
bool Parser::attributes_follow() {
  TokenData* next = scanner->peek_token();
  if (next->type != IDENTIFIER) return false;
  const String16& word = scanner->value(next);
  bool assert_here =
      word.equals("assert") && !line_break_between(source_text, cur()->end, next->start);
  if (!word.equals("with") && !assert_here) return false;
  Scanner probe(source_text.data() + next->end, source_text.length() - next->end, false);
  return probe.next() == LBRACE;
}

// Whether the attributes after the specifier say `type: 'json'` (read apart, the
// parser's scanner stays where it is).
bool Parser::attributes_say_json() {
  TokenData* next = scanner->peek_token();
  Scanner probe(source_text.data() + next->end, source_text.length() - next->end, false);
  probe.next();  // {
  for (;;) {
    uint32_t t = probe.next();
    if (t == RBRACE || t == EOS) return false;
    if (t != COMMA && (is_word(t) || t == STRING_LITERAL) && probe.peek_token()->type == COLON) {
      String16 key = probe.value(probe.current);
      probe.next();
      if (probe.next() != STRING_LITERAL) return false;
      const String16& value = probe.value(probe.current);
      bool type_key = key.equals("type") || key.equals("'type'") || key.equals("\"type\"");
      if (type_key && (value.equals("'json'") || value.equals("\"json\""))) return true;
    }
  }
}

// Drops the attribute clause, from `with` or `assert` to its `}`; only its line feeds
// are written.
void Parser::drop_attributes() {
  advance();
  drop_token();
  for (;;) {
    advance();
    if (type() == EOS) syntax_error();
    drop_token();
    if (type() == RBRACE) break;
  }
}

// Writes nothing of the current token but the line feeds of its `before` and value.
void Parser::drop_token() {
  keep_line_feeds();
  const String16& text = val();
  for (uint32_t i = 0; i < text.length(); i++) {
    if (is_line_break_unit(text[i])) write(T_LF);
  }
}

// A rewritten statement written without its `;` gets one when the next line would
// otherwise continue it: one that starts with `(`, `[`, `/`, `+`, `-` or a back-quote.
//   import {v} from './m.js'            const {v} = require('./m.js');
//   (function () {})()             ->   (function () {})()
void Parser::end_statement() {
  TokenData* next = scanner->peek_token();
  if (next->type == EOS || next->type == SEMICOLON) return;
  uint16_t c = source_text[next->start];
  if (c == '(' || c == '[' || c == '/' || c == '+' || c == '-' || c == '`') write(T_SEMICOLON);
}

// import View from 'view';                ->  const View= require('view').default;
// import View, {Box, Text} from 'view';   ->  const { default:View,Box, Text} = require('view');
// import View, * as all from 'view';      ->  const [View, all]= (($)=>[$.default,$])(require('view'));
// import * as path from 'path';           ->  const  path = require('path');
// import {join, dirname} from 'path';     ->  const {join, dirname} = require('path');
// import 'util/my-tools.js' as tools;     ->  const  tools = require('util/my-tools.js');
// import './list-item.view.jsx';          ->  const list_item_view = require('./list-item.view.jsx') ;
// import './2d.js';                       ->  require('./2d.js') ;
// import data from './d.json' with { type: 'json' };  ->  const data= require('./d.json');
// Import attributes are dropped (their line feeds stay); the default import of a JSON
// module is the value itself.
void Parser::parse_import() {
  String16 keyword = val();
  advance();
  uint32_t t = type();
  if (is_name(t, NAME_BINDING)) {
    write(T_CONST);
    flush_before();
    String16 name = val();
    uint32_t name_start = cur()->start;
    advance();
    // The blank before `from` or `,` is not written, but its line feeds are.
    if (type() == FROM) {
      write(name);
      keep_line_feeds();
      expect(T_ASSIGN, STRING_LITERAL);
      write_require_call();
      bool attributes = attributes_follow();
      if (!attributes || !attributes_say_json()) write(T_PERIOD, T_DEFAULT);
      if (attributes) drop_attributes();
    } else if (type() == COMMA && peek_type() == MUL) {
      // [NAME,
      write(T_LBRACK);
      map_place(name_start);
      write(name, T_COMMA);
      keep_line_feeds();
      advance();
      keep_line_feeds();  // the `*`
      advance();
      if (type() != AS) syntax_error();
      keep_line_feeds();
      advance();
      flush_before();
      if (!is_name(type(), NAME_BINDING)) syntax_error();
      write_value();
      write(T_RBRACK);
      advance();
      if (type() != FROM) syntax_error();
      keep_line_feeds();
      expect(T_ASSIGN, STRING_LITERAL);
      // (($)=>[$.default,$])(
      write(T_LPAREN, T_LPAREN, T_REEXPORT_PARAM, T_RPAREN, T_ASSIGN, T_GT, T_LBRACK,
            T_REEXPORT_PARAM, T_PERIOD, T_DEFAULT, T_COMMA, T_REEXPORT_PARAM, T_RBRACK, T_RPAREN,
            T_LPAREN);
      write_require_call();
      if (attributes_follow()) drop_attributes();
      write(T_RPAREN);
    } else if (type() == COMMA) {
      keep_line_feeds();
      expect(T_LBRACE, LBRACE);
      // default:NAME,
      write(T_DEFAULT, T_COLON);
      map_place(name_start);
      write(name, T_COMMA);
      parse_import_names();
      expect(T_RBRACE, FROM);
      expect(T_ASSIGN, STRING_LITERAL);
      write_require_call();
      if (attributes_follow()) drop_attributes();
    } else {
      syntax_error();
    }
    end_statement();
    return;
  }
  if (t == MUL || t == LBRACE) {
    if (t == MUL) {
      keep_line_feeds();  // the blank before `*` is not written
      expect(T_CONST, AS);
      advance();
      if (!is_name(type(), NAME_BINDING)) syntax_error();
      pass_through();
    } else {
      write(T_CONST);
      flush_before();
      parse_import_list();
    }
    advance();
    flush_before();
    if (type() != FROM) syntax_error();
    write(T_ASSIGN);
    advance();
    flush_before();
    if (type() != STRING_LITERAL) syntax_error();
    // The namespace of a JSON module holds the value as its default: {default:require(…)}
    bool json_namespace = t == MUL && attributes_follow() && attributes_say_json();
    if (json_namespace) write(T_LBRACE, T_DEFAULT, T_COLON);
    write_require_call();
    if (json_namespace) write(T_RBRACE);
    if (attributes_follow()) drop_attributes();
    end_statement();
    return;
  }
  if (t == STRING_LITERAL) {
    // These two forms write the specifier after the binding name, and the bare form
    // writes it before its own whitespace, so a specifier written over several lines
    // (a template) moves its line feeds within the statement. The statement's last
    // token still ends on its own line; the check resumes at the next token (unless an
    // enclosing element holds such text too).
    bool reordered = lines_reordered;
    lines_reordered = true;
    String16 specifier = val();
    if (peek_type() == AS) {
      write(T_CONST);
      flush_before();
      advance();
      flush_before();
      if (!is_name(peek_type(), NAME_BINDING)) {
        advance();
        syntax_error();
      }
      // "NAME ="
      write(scanner->value(scanner->peek_token()), T_SPACE, T_ASSIGN);
      advance();
      flush_before();
      // require(SPEC)
      write(T_REQUIRE, T_LPAREN, specifier, T_RPAREN);
      lines_reordered = reordered;
      end_statement();
      return;
    }
    String16 name = derive_import_name(specifier);
    // const NAME =
    if (!name.is_empty()) {
      // "const NAME = "
      write(T_CONST, T_SPACE, name, T_SPACE, T_ASSIGN, T_SPACE);
    }
    // The blank between `import` and the string follows the call, unless the string
    // holds a line continuation: then the blank stays in front, so that the line feed
    // inside the string stays on its line.
    bool line_break = false;
    for (uint32_t i = 0; i < specifier.length(); i++) {
      line_break = line_break || specifier[i] == '\r' || is_line_break_unit(specifier[i]);
    }
    if (line_break) flush_before();
    // require(SPEC)
    write(T_REQUIRE, T_LPAREN, specifier, T_RPAREN);
    if (!line_break) flush_before();
    lines_reordered = reordered;
    if (attributes_follow()) drop_attributes();
    end_statement();
    return;
  }
  if (t == LPAREN || t == PERIOD) {
    // Dynamic import(...) and import.meta are expressions: copied through.
    write(keyword);
    parse_element();
    return;
  }
  // Nothing else may follow `import`: dropping the keyword would change the code.
  syntax_error();
}

// After the last token: the class field blocks, one `exports.N=N;` line per exported
// name, the default export, and a final line feed.
void Parser::write_trailer() {
  for (const MemberDataExpression& record : class_data) {
    if (record.fields.length()) write_class_fields(record);
  }
  for (const String16& name : export_names) {
    // \nexports.NAME=NAME;
    write(T_LF, T_EXPORTS, T_PERIOD, name, T_ASSIGN, name, T_SEMICOLON);
  }
  if (default_exported && !default_export_name.is_empty()) {
    // \nexports.default=NAME;
    write(T_LF, T_EXPORTS_DEFAULT, T_ASSIGN, default_export_name, T_SEMICOLON);
  }
  write(T_LF);
}

}  // namespace nubrix
