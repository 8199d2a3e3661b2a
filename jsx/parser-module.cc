// Module syntax: every import becomes a `const` fed by require(), exported
// declarations are marked in place, and the module trailer assigns `exports`.
#include "jsx/ascii.h"
#include "jsx/parser.h"

namespace nubrix {

namespace {

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

// export var a = 1;            ->  /*export*/ var a = 1;       (a goes to the trailer)
// export {a, b};               ->  module._export= {a, b};
// export default {name: 'x'};  ->   exports.default= {name: 'x'};
// export default class App {}  ->   /*export*/ class App {}     (App is the default)
bool Parser::parse_export() {
  advance();
  uint32_t t = type();
  String16 name;
  if (t == DEFAULT) {
    if (default_exported) syntax_error();
    default_exported = true;
    flush_before();
    advance();
    t = type();
    // A value: `export default {…}`, `export default name;`, `export default /re/;`.
    if (t == LPAREN || t == LBRACK || t == LBRACE || t == DIV || t == ASSIGN_DIV ||
        (is_identifier_like(t) && t != ASYNC)) {
      write(T_EXPORTS_DEFAULT);
      write(T_ASSIGN);
      return false;
    }
    if (!mark_declaration(name)) syntax_error();
    default_export_name = name;
    return false;
  }
  if (t == LBRACE) {
    write(T_MODULE_EXPORT);
    write(T_ASSIGN);
    parse_export_list();
    return true;
  }
  if (t == LPAREN || t == LBRACK) {
    write(T_MODULE_EXPORT);
    write(T_ASSIGN);
    return false;
  }
  if (mark_declaration(name)) {
    export_names.push(name);
    return false;
  }
  if (!is_identifier_like(t)) syntax_error();
  write(T_MODULE_EXPORT);
  write(T_ASSIGN);
  return false;
}

// var|let|const|class|function NAME and async function NAME after `export` (and
// `default`): writes the mark and gives the declared name. False for anything else.
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
  if (!is_identifier_like(peek_type())) {
    advance();
    syntax_error();
  }
  name = scanner->value(scanner->peek_token());
  return true;
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
// export {a, b as c} from './m'; ->  module._export= (($)=>({a:$.a, c:$.b}))(require('./m'));
void Parser::parse_export_list() {
  bool reexport = export_list_has_from();
  flush_before();
  if (reexport) {
    // (($)=>(
    write(T_LPAREN, T_LPAREN, T_REEXPORT_PARAM, T_RPAREN, T_ASSIGN, T_GT, T_LPAREN);
  }
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
    if (!is_name(t, NAME_EXPORT_LIST)) syntax_error();
    String16 name = val();
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
      // ALIAS:$.NAME
      write(alias, T_COLON, T_REEXPORT_PARAM, T_PERIOD, name);
    } else if (renamed) {
      write(alias);
      write(T_COLON);
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

// The names inside import braces, up to the closing brace (left current).
void Parser::parse_import_names() {
  enter_nesting();
  for (;;) {
    advance();
    flush_before();
    uint32_t t = type();
    if (t == RBRACE) break;
    if (t == EOS) syntax_error();
    if (t == AS) {
      write(T_COLON);
      continue;
    }
    parse_element();
  }
  leave_nesting();
}

void Parser::write_require_call() {
  write(T_REQUIRE);
  write(T_LPAREN);
  pass_through();
  write(T_RPAREN);
}

// import View from 'view';                 ->  const View= require('view').default;
// import View, {Box, Text} from 'view';    ->  const { default:View,Box, Text} = require('view');
// import * as path from 'path';            ->  const  path = require('path');
// import {join, dirname} from 'path';      ->  const {join, dirname} = require('path');
// import 'util/my-tools.js' as tools;      ->  const  tools = require('util/my-tools.js');
// import './list-item.view.jsx';           ->  const list_item_view = require('./list-item.view.jsx') ;
// import './2d.js';                        ->  require('./2d.js') ;
void Parser::parse_import() {
  String16 keyword = val();
  advance();
  uint32_t t = type();
  if (is_name(t, NAME_BINDING)) {
    write(T_CONST);
    flush_before();
    String16 name = val();
    advance();
    // The blank before `from` or `,` is not written, but its line feeds are.
    if (type() == FROM) {
      write(name);
      keep_line_feeds();
      expect(T_ASSIGN, STRING_LITERAL);
      write_require_call();
      write(T_PERIOD);
      write(T_DEFAULT);
    } else if (type() == COMMA) {
      keep_line_feeds();
      expect(T_LBRACE, LBRACE);
      // default:NAME,
      write(T_DEFAULT, T_COLON, name, T_COMMA);
      parse_import_names();
      expect(T_RBRACE, FROM);
      expect(T_ASSIGN, STRING_LITERAL);
      write_require_call();
    } else {
      syntax_error();
    }
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
    write_require_call();
    return;
  }
  if (t == STRING_LITERAL) {
    // These two forms write the specifier after the binding name, and the bare form
    // writes it before its own whitespace, so a specifier written over several lines
    // (a template) moves its line feeds within the statement. The statement's last
    // token still ends on its own line; the check resumes at the next token.
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
      write(scanner->value(scanner->peek_token()));
      write(T_SPACE);
      write(T_ASSIGN);
      advance();
      flush_before();
      // require(SPEC)
      write(T_REQUIRE, T_LPAREN, specifier, T_RPAREN);
      lines_reordered = false;
      return;
    }
    String16 name = derive_import_name(specifier);
    if (!name.is_empty()) {
      // "const NAME = "
      write(T_CONST, T_SPACE, name, T_SPACE, T_ASSIGN, T_SPACE);
    }
    // require(SPEC)
    write(T_REQUIRE, T_LPAREN, specifier, T_RPAREN);
    flush_before();
    lines_reordered = false;
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
