// View markup in .jsx sources becomes plain values for the view runtime:
//   <br/>                        ->  {vx:0,v:[br,[],[]]}
//   <div class="box">Hi ${n}</div> ->  {vx:0,v:[div, [[["class"],0,"box"]],[{vx:2,v:"Hi "},(n)]]}
//   <ui:Button title=%{u.name}/>  ->  {vx:1,v:[ui,Button, [[["title"],3,($,ctr)=>{return(u.name)}]],[]]}
//   <vx:Item key="a"/>            ->  __vx(Item, [[["key"],0,"a"]])
// Line breaks of the markup are written between the generated pieces, outside the
// strings, so every line keeps its place.
#include "jsx/ascii.h"
#include "jsx/parser.h"
#include "utils/error.h"

namespace nubrix {

namespace {

bool has_non_space(const String16& s) {
  for (uint32_t i = 0; i < s.length(); i++)
    if (!is_blank(s[i])) return true;
  return false;
}

// Words that cannot stand as the reference a tag name is written as.
bool is_reserved_word(const String16& dotted) {
  static const char* const kWords[] = {
      "await",     "break",      "case",      "catch",    "class", "const",      "continue",
      "debugger",  "default",    "delete",    "do",       "else",  "enum",       "export",
      "extends",   "finally",    "for",       "function", "if",    "implements", "import",
      "in",        "instanceof", "interface", "let",      "new",   "package",    "private",
      "protected", "public",     "return",    "static",   "super", "switch",     "throw",
      "try",       "typeof",     "var",       "void",     "while", "with",       "yield"};
  int64_t dot = dotted.index_of((uint16_t)'.');
  String16 first = dot >= 0 ? dotted.substring(0, (uint32_t)dot) : dotted;
  for (const char* w : kWords)
    if (first.equals(w)) return true;
  return false;
}

}  // namespace

// `{vx:K,v:[` for element kind K.
void Parser::write_element_head(Text kind) {
  // {vx:K,v:[
  write(T_LBRACE, T_VX, T_COLON, kind, T_COMMA, T_V, T_COLON, T_LBRACK);
}

bool Parser::output_ends_with_word() {
  uint16_t last;
  if (pending_to > pending_from) {
    last = source_text[pending_to - 1];
  } else {
    if (main_runs.length() == 0) return false;
    const OutputRun& run = main_runs.back();
    last = run.data[run.length - 1];
  }
  return is_name_part(last);
}

bool Parser::is_reserved_name(const String16& name) {
  return is_reserved_word(name) || name.equals("this") || name.equals("null") ||
         name.equals("true") || name.equals("false");
}

void Parser::parse_xml_element(bool is_child, bool after_if) {
  if (!is_jsx || (!is_child && !expression_may_start(after_if)) || peek_type() == COLON ||
      peek_type() == PERIOD) {
    // A child must be markup; elsewhere this is a less-than directly followed by a name.
    if (is_jsx && is_child) raise_error("Xml Syntax error");
    write(T_LT);
    pass_through();
    return;
  }
  enter_nesting();
  bool reordered = lines_reordered;  // restored once the vdata text is in place
  uint32_t before_tag = scanner->previous_type;
  flush_before();
  String16 tag = val();
  int64_t colon = tag.index_of((uint16_t)':');
  bool component = colon >= 0 && tag.substring(0, (uint32_t)colon).equals("vx");
  if (colon >= 0 ? is_reserved_word(tag.substring(0, (uint32_t)colon)) ||
                       is_reserved_word(tag.substring((uint32_t)colon + 1, tag.length()))
                 : is_reserved_word(tag)) {
    raise_error("Xml Syntax error");
  }
  // An object literal where a statement or an arrow body starts would be read as a
  // block: `if (c) <div/>;` and `(i) => <li/>` get parentheses around the value.
  bool wrap = false;
  if (!is_child && !component) {
    uint32_t p = before_tag;
    bool substitution = p == LBRACE && scanner->previous_start > 0 &&
                        scanner->source[scanner->previous_start - 1] == '$';
    wrap = p == SEMICOLON || (p == LBRACE && !substitution) || p == RBRACE || p == ILLEGAL ||
           p == SHEBANG || p == ELSE || (p == RPAREN && after_if) ||
           (p == GT && scanner->previous_start > 0 &&
            scanner->source[scanner->previous_start - 1] == '=');
  }
  if (wrap) write(T_LPAREN);
  // `return<vx:Item/>` must not become one word `return__vx`: a space only where the
  // output ends in a word; whitespace that stood there is kept as written.
  if (component && output_ends_with_word()) write(T_SPACE);
  if (colon >= 0) {
    String16 prefix = tag.substring(0, (uint32_t)colon);
    String16 name = tag.substring((uint32_t)colon + 1, tag.length());
    if (component) {
      // __vx(NAME,
      write(T___VX, T_LPAREN, name, T_COMMA);
    } else {
      write_element_head(T_1);
      // P,NAME,
      write(prefix, T_COMMA, name, T_COMMA);
    }
  } else {
    write_element_head(T_0);
    write(tag);
    write(T_COMMA);
  }

  BasicStringBuilder vdata;
  advance();
  parse_xml_attributes(vdata);

  if (type() == DIV) {
    // Self-closing: `/>`.
    if (!component) {
      write(T_COMMA);
      write(T_LBRACK);
      write(T_RBRACK);
    }
    flush_before();
    advance();
    if (type() != GT) raise_error("Xml Syntax error");
    flush_before();
  } else if (type() == GT) {
    if (component) raise_error("View xml component cannot have child views.");
    parse_xml_children(tag);
  } else {
    raise_error("Xml Syntax error");
  }
  if (vdata.length()) {
    write(T_COMMA);
    for (const String16& piece : vdata) write(piece);
  }
  lines_reordered = reordered;
  if (component) {
    write(T_RPAREN);
  } else {
    write(T_RBRACK);
    write(T_RBRACE);
  }
  if (wrap) write(T_RPAREN);
  leave_nesting();
}

void Parser::parse_xml_attributes(BasicStringBuilder& vdata) {
  if (!is_name(type(), NAME_ATTRIBUTE)) {
    write(T_LBRACK);
    write(T_RBRACK);
    return;
  }
  if (!cur()->has_before()) raise_error("Xml Syntax error");
  flush_before();
  write(T_LBRACK);
  Map<String16, bool> seen;
  bool spaced = true;
  for (;;) {
    BasicStringBuilder* saved = out;
    bool to_side = val().equals("vdata") && peek_type() != PERIOD;
    if (to_side) out = &vdata;
    write(T_LBRACK);
    write(T_LBRACK);
    String16 key;
    for (;;) {
      write(T_QUOTE);
      write_value();
      write(T_QUOTE);
      key.push(val());
      advance();
      // Whether blank stood before the next token, noted before it is written.
      spaced = cur()->has_before();
      flush_before();
      if (type() != PERIOD) break;
      advance();
      flush_before();
      if (!is_name(type(), NAME_ATTRIBUTE)) raise_error("Xml Syntax error");
      write(T_COMMA);
    }
    write(T_RBRACK);
    write(T_COMMA);
    if (seen.has(key)) {
      String message = String("Xml Syntax error, attribute repeat: ") + String(key);
      raise_error(message);
    }
    seen[key] = true;
    if (type() == ASSIGN) {
      in_attribute_value = true;
      uint32_t next = peek_type();
      if (next == PERCENT_PERCENT_BRACE || next == PERCENT_BRACE) {
        parse_xml_binding(next == PERCENT_PERCENT_BRACE);
      } else {
        write(T_0);
        write(T_COMMA);
        parse_operand();
        parse_operator_tail();
      }
      in_attribute_value = false;
      advance();
      spaced = cur()->has_before();
    } else {
      // 0,""
      write(T_0, T_COMMA, T_QUOTE, T_QUOTE);
    }
    write(T_RBRACK);
    out = saved;
    if (!is_name(type(), NAME_ATTRIBUTE)) break;
    if (!to_side) write(T_COMMA);
    if (!spaced) raise_error("Xml Syntax error");
    flush_before();
  }
  write(T_RBRACK);
}

// name=%{expr}  ->  3,($,ctr)=>{return(expr)}      (%%{expr} adds ,1)
void Parser::parse_xml_binding(bool double_percent) {
  write(T_3);
  write(T_COMMA);
  advance();
  flush_before();
  write(T_BINDING_FN);
  advance();
  flush_before();
  if (peek_type() == RBRACE) raise_error("Xml Syntax error");  // `%{}` binds nothing
  write(T_LPAREN);
  parse_group(RBRACE);
  write(T_RPAREN);
  write(T_RBRACE);
  if (double_percent) {
    write(T_COMMA);
    write(T_1);
  }
}

// Reads the children straight from the source after the start tag's `>`: text
// (whitespace collapsed unless toggled by @@), child elements, ${...} expressions,
// %{...} bindings and markup comments, up to the matching end tag.
void Parser::parse_xml_children(const String16& tag) {
  write(T_COMMA);
  flush_before();
  write(T_LBRACK);
  Scanner* s = scanner;
  s->move_to(cur()->end);
  String16 text;   // the text of the current node
  String16 space;  // whitespace and comments written between the nodes
  bool first = true;
  bool collapsing = true;

  auto comma = [&]() {
    if (first) {
      first = false;
    } else {
      write(T_COMMA);
    }
  };
  auto flush_text = [&](bool separator) {
    if (!text.is_empty()) {
      if (!collapsing || has_non_space(text)) {
        comma();
        // {vx:2,v:"TEXT"}
        write(T_LBRACE, T_VX, T_COLON, T_2, T_COMMA, T_V, T_COLON, T_QUOTE);
        write_moved(text);
        write(T_QUOTE, T_RBRACE);
      }
      text = String16();
    }
    if (separator) comma();
    write_moved(space);
  };

  for (;;) {
    int32_t c = s->ch;
    if (c == -1) {
      s->scan();
      advance();
      raise_error("Xml Syntax error");
    }
    if (c == '<') {
      s->scan();
      uint32_t t = s->peek_token()->type;
      if (t == XML_ELEMENT_TAG) {
        flush_text(true);
        advance();
        parse_xml_element(true);
        s->move_to(cur()->end);
        s->discard_lookahead();
        continue;
      }
      if (t == XML_ELEMENT_TAG_END) {
        flush_text(false);
        advance();
        if (val() != tag) {
          raise_error(String::format("Xml Syntax error, The end of the unknown, <%s> ... </%s>",
                                     String(tag).c_str(), String(val()).c_str()));
        }
        write(T_RBRACK);
        return;
      }
      if (t == XML_COMMENT) {
        space.push(xml_comment_text(s->value(s->peek_token())));
        s->discard_lookahead();
        continue;
      }
      if (t == LT) {
        text.push((uint16_t)'<');
        s->discard_lookahead();
        continue;
      }
      advance();
      raise_error("Xml Syntax error");
    }
    int32_t n = s->peek();
    if ((c == '$' && n == '{') || (c == '%' && (n == '{' || (n == '%' && s->peek(2) == '{')))) {
      flush_text(true);
      s->scan();
      uint32_t t = s->peek_token()->type;
      advance();
      advance();
      if (peek_type() == RBRACE) {
        advance();
        raise_error("Xml Syntax error");  // an empty `${}` or `%{}` has no value
      }
      if (t == DOLLAR_BRACE) {
        write(T_LPAREN);
        parse_group(RBRACE);
        write(T_RPAREN);
      } else {
        // {vx:3,v:($,ctr)=>{return(EXPR)}   and for %%{ also ,m:1   then }
        write(T_LBRACE, T_VX, T_COLON, T_3, T_COMMA, T_V, T_COLON, T_BINDING_FN, T_LPAREN);
        parse_group(RBRACE);
        write(T_RPAREN, T_RBRACE);
        if (t == PERCENT_PERCENT_BRACE) {
          // ,m:1
          write(T_COMMA, T_M, T_COLON, T_1);
        }
        write(T_RBRACE);
      }
      s->move_to(cur()->end);
      s->discard_lookahead();
      continue;
    }
    if (c == '@' && n == '@') {
      flush_text(false);
      collapsing = !collapsing;
      s->advance();
      s->advance();
      continue;
    }
    if (c == '$' || c == '%' || c == '@') {
      text.push((uint16_t)c);
      s->advance();
      if (c == '%' && s->ch == '%') {
        text.push((uint16_t)'%');
        s->advance();
      }
      continue;
    }
    // Plain text up to the next '<', '$', '%' or '@'.
    while (s->ch != -1 && s->ch != '<' && s->ch != '$' && s->ch != '%' && s->ch != '@') {
      int32_t u = s->ch;
      if (is_blank(u)) {
        if (collapsing) {
          text.push((uint16_t)' ');
          bool leading = true;
          while (is_blank(s->ch)) {
            if (!(leading && s->ch == ' ')) space.push((uint16_t)s->ch);
            leading = false;
            s->advance();
          }
          continue;
        }
        if (u == '\n' || u == '\r') {
          // One line break per CRLF pair.
          space.push((uint16_t)u);
          if (!(u == '\n' && s->position > 0 && s->source[s->position - 1] == '\r')) {
            text.push((uint16_t)'\\');
            text.push((uint16_t)'n');
          }
        } else {
          text.push((uint16_t)u);
        }
        s->advance();
        continue;
      }
      if (u == '"') {
        text.push((uint16_t)'\\');
        text.push((uint16_t)'"');
        s->advance();
        continue;
      }
      if (u == '\\') {
        s->advance();
        // The text lands in a string literal: only escapes JavaScript accepts there
        // (no octal escapes, \x with two hex digits).
        int32_t e = s->ch;
        bool hex2 = e == 'x' && is_hex(s->peek()) && is_hex(s->peek(2));
        if ((e == 'x' && !hex2) || (e >= '1' && e <= '9') ||
            (e == '0' && s->peek() >= '0' && s->peek() <= '9') || !s->read_escape(text)) {
          raise_error("Xml Syntax error");
        }
        continue;
      }
      text.push((uint16_t)u);
      s->advance();
    }
  }
}

}  // namespace nubrix
