// Parser is the single-pass, token-level rewriter: every token is copied through with
// the whitespace and comments in front of it, rewritten from the output text table,
// or handed to a transform (modules, classes and events, view markup). There is no
// syntax tree; one token of look-ahead suffices.
//
// Everything reaches the output through the primitives write, write_moved,
// flush_before, pass_through and expect, so line N of the output holds the text of
// line N of the source. The two places that move text elsewhere are visibly
// separate: the class field capture (`capture`, written by the trailer) and the
// `vdata` side builder of markup (`out` redirected).
#ifndef NUBRIX_JSX_PARSER_H
#define NUBRIX_JSX_PARSER_H

#include <cstdint>
#include <initializer_list>

#include "jsx/scanner.h"
#include "jsx/sourcemap.h"
#include "jsx/token.h"
#include "utils/buffer.h"
#include "utils/check.h"
#include "utils/map.h"
#include "utils/string-builder.h"
#include "utils/string.h"

namespace nubrix {

class Parser : public Object {
 public:
  // The fields of one named top-level class: name -> captured initialiser text.
  struct MemberDataExpression {
    String16 name;
    Map<String16, BasicStringBuilder> fields;
  };

  Parser(const String16& source, const String& path, bool is_jsx, bool clean_comment);
  ~Parser() override;
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Rewrites the whole source into main_output and appends the module trailer.
  void transform();
  // The transpiled text encoded as UTF-8, straight from the output pieces (no joined
  // copy in between).
  [[nodiscard]] Buffer output_utf8();
  // The output pieces in order, for encoding them a block at a time
  // (Utf8PieceEncoder); they stay valid while the Parser lives and writes nothing more.
  void output_pieces(ArrayBuffer<const uint16_t*>& pieces, ArrayBuffer<uint32_t>& lengths);
  // The transpiled text (the joined main output).
  [[nodiscard]] String16 output();

  // Deepest nesting of brackets, templates and markup elements accepted; deeper
  // input is refused with an error instead of exhausting the stack.
  static constexpr int32_t kMaxNesting = 1500;

  // After a syntax error: the first unit of the offending token, and for a construct
  // the dialect refuses on purpose one sentence naming it (null otherwise).
  [[nodiscard]] uint32_t error_start() const { return error_start_; }
  [[nodiscard]] const char* error_hint() const { return error_hint_; }
  // Records a mapping at every token start into `map` (null: none, the default). Set
  // before transform.
  void set_source_map(SourceMapBuilder* map) { source_map_ = map; }

 private:
  // ---- output primitives ----
  void write(const String16& text) {
    if (text.is_empty()) return;
    if (capturing) {
      write_captured(text, out);
      return;
    }
    push_to(out, text);
  }
  void write(Text entry) {
    if (capturing) {
      write(texts[entry]);
    } else {
      write_out_only(entry);
    }
  }
  // A sequence of table entries and strings, written one after the other; the comment
  // above a call spells what it writes.
  template <typename First, typename Second, typename... Rest>
  void write(const First& first, const Second& second, const Rest&... rest) {
    write(first);
    write(second);
    (write(rest), ...);
  }
  void write_moved(String16& text);
  // Writes to `out` only, never to the capture (used to close and reopen the comment
  // around a captured markup comment).
  void write_out_only(Text entry) {
    // Table texts live as long as the process: the main output refers to them.
    if (out == &main_output) {
      push_main_run(texts[entry], false);
    } else {
      push_to(out, texts[entry]);
    }
  }
  // Writes the current token's own source text, which for punctuators and operators
  // is the table entry that spells it.
  void write_token(Text entry) {
    if (direct()) {
      emit_source(cur()->start, cur()->end);
    } else {
      write(entry);
    }
  }
  // Writes the value of the current token.
  void write_value() {
    TokenData* t = cur();
    if (!t->has_before()) check_line();
    // A rewrite may have written text since the token's line was checked: the name
    // itself starts here.
    if (source_map_ && out == &main_output) map_token();
    if (t->value_is_range && direct()) {
      emit_source(t->value_from, t->value_to);
    } else {
      write(val());
    }
  }
  const String16& val() { return scanner->value(scanner->current); }

  // Text that is a range of the source and goes straight to the main output is not
  // copied at all: adjacent ranges are merged and become one run pointing into the
  // source when anything else is written, so copying code through costs neither an
  // allocation nor a copy per token.
  bool direct() const { return !capturing && out == &main_output; }
  void emit_source(uint32_t from, uint32_t to) {
    if (to <= from) return;
    count_lines(source_text.data() + from, to - from);
    if (pending_to == from && pending_to > pending_from) {
      pending_to = to;
      return;
    }
    flush_pending();
    pending_from = from;
    pending_to = to;
  }
  void flush_pending() {
    if (pending_to > pending_from) {
      add_run(source_text.data() + pending_from, pending_to - pending_from);
    }
    pending_from = pending_to = 0;
  }
  void add_run(const uint16_t* data, uint32_t length) {
    main_length = checked_length(main_length, length);
    main_runs.push(OutputRun{data, length});
  }
  // Appends a text to the main output; `hold`: the output keeps a reference to it (a
  // table text needs none).
  void push_main_run(const String16& s, bool hold) {
    if (s.is_empty()) return;
    flush_pending();
    count_lines(s);
    add_run(s.data(), s.length());
    if (hold) main_output.push(s);
  }
  void push_to(BasicStringBuilder* b, const String16& s) {
    if (b == &main_output) {
      push_main_run(s, true);
    } else {
      note_side_lines(s);
      b->push(s);
    }
  }
  void push_moved_to(BasicStringBuilder* b, String16& s) {
    if (b == &main_output) {
      if (s.is_empty()) return;
      push_main_run(s, false);
      main_output.push_move(s);  // holds the text the run refers to
    } else {
      note_side_lines(s);
      b->push_move(s);
    }
  }
  // A text for a side builder (markup vdata) that holds a line break (a template or a
  // string with a line continuation) takes its line breaks to where the side text is
  // written, after the element's children: until then the element's later tokens
  // stand lines early, and the element restores the check when it writes the side text.
  void note_side_lines(const String16& s) {
#if NUBRIX_CHECKS
    for (uint32_t i = 0; i < s.length() && !lines_reordered; i++) {
      lines_reordered = is_line_break_unit(s[i]);
    }
#else
    (void)s;
#endif
  }

  // The line invariant: when a token reaches the main output, the output holds exactly
  // as many line breaks (line feeds, U+2028, U+2029) as the source before the token, so the token stands on its own
  // line. The checking builds count the line feeds of every piece of the main output
  // (source ranges where they are emitted, other texts where they are pushed) and stop
  // at the first token that drifts; other builds compile the count away.
  void count_lines(const uint16_t* s, uint32_t n) {
#if NUBRIX_CHECKS
    for (uint32_t i = 0; i < n; i++) lines_written += is_line_break_unit(s[i]);
#endif
    if (source_map_) track_output(s, n);
  }
  void check_line() {
#if NUBRIX_CHECKS
    // An ILLEGAL token never reaches the output: it stops the transpilation (an
    // unterminated block comment's text even runs past the token's own line).
    if (lines_written != (int64_t)cur()->line && cur()->type != ILLEGAL && !lines_reordered) {
      line_drift();
    }
#endif
    // The place where the line is checked is where a token starts in the output.
    // Text bound for a side builder (markup vdata) is placed later and not mapped.
    if (source_map_ && out == &main_output) map_token();
  }
#if NUBRIX_CHECKS
  [[noreturn]] void line_drift();
  int64_t lines_written = 0;
#endif
  // Source maps: the output place (line, column in units) follows every piece of the
  // main output; the source place of a token is counted from the last one.
  void track_output(const uint16_t* s, uint32_t n);
  void map_token();
  // A mapping from the output's place to the source unit `start`, for a name written
  // after the scanner has moved past it.
  void map_place(uint32_t start) {
    if (source_map_ && out == &main_output && !capturing) map_source(start);
  }
  void map_source(uint32_t start);
  void count_lines(const String16& s) {
    count_lines(s.data(), s.length());
  }
  // While a field initialiser is captured, its text also stands in place inside a
  // block comment: that copy must never close the comment early, so a "*/" in it
  // (in a string, a comment, markup text, or across two pieces) is written as "* /".
  // The captured copy keeps the original text.
  void write_captured(const String16& text, BasicStringBuilder* target, bool keep = true);
  void flush_before() {
    TokenData* t = scanner->current;
    if (t->before_is_range ? t->start == t->before_from : t->before.is_empty()) {
      t->before_is_range = false;
    } else {
      flush_before_text();
    }
    check_line();
  }
  void flush_before_text();
  // Drops the current token's `before` but keeps its line feeds, so later lines stay
  // in place where a rewrite leaves that whitespace out.
  void keep_line_feeds();
  void pass_through() {
    flush_before();
    write_value();
  }
  uint32_t advance() {
    return scanner->next();
  }
  // Writes the entry, advances, flushes and requires the new token to be `type`.
  void expect(Text entry, uint32_t type);
  [[noreturn]] void syntax_error();
  // A syntax error at a construct the dialect leaves out by design; `hint` names it.
  [[noreturn]] void refused(const char* hint);
  [[noreturn]] void raise_error(const char* message);
  [[noreturn]] void raise_error(const String& message);

  uint32_t type() const {
    return scanner->current->type;
  }
  uint32_t peek_type() const {
    return scanner->peek_token()->type;
  }
  TokenData* cur() const {
    return scanner->current;
  }

  // ---- core ----
  void parse_element();
  void dispatch(bool after_if);
  // A bracket group; `block` tells whether its content is a statement list (a block or
  // a function body), which decides how a `{` or a `function` directly inside reads.
  void parse_group(uint32_t close, bool block);
  void parse_group(uint32_t close) {
    parse_group(close, close == RBRACE);
  }
  void parse_if();
  void parse_template();
  bool expression_may_start(bool after_if) const;
  // Whether the token before the current one is one of the words (a plain name, not
  // a member name after a period).
  bool previous_word_is(const char* const* words) const;
  bool brace_starts_block() const;
  bool function_is_expression() const;
  void parse_regexp();
  // Whether a word stands as a property key or a method name here (`{class: 1}`,
  // `{ if() {} }`, `{ get static() {} }`) rather than as a keyword.
  bool word_is_key() const;
  void write_xml_comment();
  String16 xml_comment_text(const String16& text) const;
  void write_element_head(Text kind);
  // Whether the main output so far ends with a unit of a name (a generated name
  // written next to it would join it).
  bool output_ends_with_word();
  void parse_object_literal();
  static bool is_reserved_name(const String16& name);
  void enter_nesting();
  void leave_nesting() {
    nesting--;
  }

  // ---- restricted expression reader ----
  void parse_operand();
  void parse_member_chain();
  void parse_postfix();
  void parse_operator_tail();

  // ---- modules ----
  // Returns true when it wrote the current token itself (the loop then moves on).
  bool parse_export();
  bool parse_export_default();
  bool mark_declaration(String16& name);
  bool function_name_after(uint32_t from, String16& name) const;
  void parse_exported_bindings();
  void parse_binding(bool record);
  void parse_binding_default(uint32_t close);
  bool declaration_ends_here();
  void parse_export_all();
  void parse_export_list();
  bool export_list_has_from();
  void parse_import();
  void parse_import_list();
  void parse_import_names();
  void write_require_call();
  bool attributes_follow();
  bool attributes_say_json();
  void drop_attributes();
  void drop_token();
  void end_statement();
  void write_trailer();

  // ---- classes and events ----
  void parse_class();
  void next_member() {
    advance();
    flush_before();
  }
  void parse_class_body(MemberDataExpression* record);
  void parse_method();
  void parse_member_name();
  void parse_accessor(MemberDataExpression* record);
  void parse_field(MemberDataExpression* record);
  void parse_event();
  void write_class_fields(const MemberDataExpression& record);

  // ---- markup ----
  void parse_xml_element(bool is_child, bool after_if = false);
  void parse_xml_attributes(BasicStringBuilder& vdata);
  void parse_xml_binding(bool double_percent);
  void parse_xml_children(const String16& tag);

  // The main output, in order: runs of units that point into the source text, the
  // table texts or the texts held by `main_output`. `out` points to `main_output` while
  // text goes to the main output.
  struct OutputRun {
    const uint16_t* data;
    uint32_t length;
  };
  ArrayBuffer<OutputRun> main_runs;
  uint32_t main_length = 0;

  Scanner* scanner;
  BasicStringBuilder* out;
  BasicStringBuilder main_output;  // holds the written texts that main_runs refers to
  BasicStringBuilder capture;
  String path;
  Array<String16> export_names;
  String16 default_export_name;
  Array<MemberDataExpression> class_data;
  int32_t depth = 0;
  int32_t nesting = 0;
  bool is_jsx;
  bool capturing = false;
  bool lines_reordered = false;    // a rule writes a text ahead of its place (see check_line)
  bool comment_last_star = false;  // the in-place comment copy ends with '*'
  bool in_field_comment = true;    // captured text also stands inside the field's comment
  uint32_t pending_from = 0;
  uint32_t pending_to = 0;
  bool in_attribute_value = false;
  // Set after the `)` of an `if`, `while`, `for` or `with` head, for the one token
  // that follows.
  bool after_if_condition = false;
  // How a `/` after a `}` reads: the `}` of a block or a function declaration ends a
  // statement (a regular expression may follow), the `}` of an object literal or of a
  // function or class expression ends an operand (a division follows). The latter
  // record the index of their `}` here.
  uint32_t expression_brace_start = UINT32_MAX;
  bool in_block = true;  // the innermost group holds statements
  enum : uint8_t { kNoFunction, kFunctionDeclaration, kFunctionExpression };
  uint8_t pending_function = kNoFunction;  // a `function` whose body brace is to come
  bool default_exported = false;
  bool clean_comment;
  String16 source_text;  // keeps the scanned units alive
  const String16* texts;
  uint32_t error_start_ = 0;
  const char* error_hint_ = nullptr;
  SourceMapBuilder* source_map_ = nullptr;
  uint32_t map_line_ = 0;         // output line of the next unit written
  uint32_t map_column_ = 0;       // its column
  uint32_t map_source_at_ = 0;    // source unit up to which lines were counted
  uint32_t map_source_line_ = 0;  // the line there
  uint32_t map_line_start_ = 0;   // and the first unit of that line
};

}  // namespace nubrix

#endif
