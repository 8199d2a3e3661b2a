// The token numbering shared by the scanner and the parser, and the table of output
// texts the parser writes for operators and generated code. Both come from the two
// lists below: one row per token and one row per text, so the numbering, the names,
// the texts that spell operators and the places where a word may stand as a name are
// kept together. The parser tests contiguous runs of the numbering (the predicates
// below), so the order of the rows matters and is pinned by static_asserts.
#ifndef NUBRIX_JSX_TOKEN_H
#define NUBRIX_JSX_TOKEN_H

#include <cstdint>

#include "utils/string.h"

namespace nubrix {

// The output text table: X(index name, text). Entries 0 to 84 are the fixed table;
// the generated-code texts after it are built with it.
#define NUBRIX_OUTPUT_TEXTS(X)            \
  X(T_SPACE, " ")                         \
  X(T_TWO_SPACES, "  ")                   \
  X(T_LT, "<")                            \
  X(T_GT, ">")                            \
  X(T_ADD, "+")                           \
  X(T_SUB, "-")                           \
  X(T_DIV, "/")                           \
  X(T_ASSIGN, "=")                        \
  X(T_INC, "++")                          \
  X(T_DEC, "--")                          \
  X(T_ASSIGN_BIT_OR, "|=")                \
  X(T_ASSIGN_BIT_XOR, "^=")               \
  X(T_ASSIGN_BIT_AND, "&=")               \
  X(T_ASSIGN_SHL, "<<=")                  \
  X(T_ASSIGN_SAR, ">>=")                  \
  X(T_ASSIGN_SHR, ">>>=")                 \
  X(T_ASSIGN_ADD, "+=")                   \
  X(T_ASSIGN_SUB, "-=")                   \
  X(T_ASSIGN_MUL, "*=")                   \
  X(T_ASSIGN_EXP, "**=")                  \
  X(T_ASSIGN_DIV, "/=")                   \
  X(T_ASSIGN_MOD, "%=")                   \
  X(T_OR, "||")                           \
  X(T_AND, "&&")                          \
  X(T_SHL, "<<")                          \
  X(T_SAR, ">>")                          \
  X(T_SHR, ">>>")                         \
  X(T_EQ, "==")                           \
  X(T_NE, "!=")                           \
  X(T_EQ_STRICT, "===")                   \
  X(T_NE_STRICT, "!==")                   \
  X(T_LTE, "<=")                          \
  X(T_GTE, ">=")                          \
  X(T_PERIOD, ".")                        \
  X(T_DOLLAR_BRACE, "${")                 \
  X(T_LBRACE, "{")                        \
  X(T_RBRACE, "}")                        \
  X(T_LBRACK, "[")                        \
  X(T_RBRACK, "]")                        \
  X(T_LPAREN, "(")                        \
  X(T_RPAREN, ")")                        \
  X(T_CONDITIONAL, "?")                   \
  X(T_NOT, "!")                           \
  X(T_BIT_OR, "|")                        \
  X(T_BIT_NOT, "~")                       \
  X(T_BIT_XOR, "^")                       \
  X(T_MUL, "*")                           \
  X(T_EXP, "**")                          \
  X(T_BIT_AND, "&")                       \
  X(T_MOD, "%")                           \
  X(T_AT, "@")                            \
  X(T_QUOTE, "\"")                        \
  X(T_LF, "\n")                           \
  X(T_CONST, "const")                     \
  X(T_VAR, "var")                         \
  X(T_REQUIRE, "require")                 \
  X(T_COMMA, ",")                         \
  X(T_COLON, ":")                         \
  X(T_SEMICOLON, ";")                     \
  X(T_VX, "vx")                           \
  X(T___VX, "__vx")                       \
  X(T_VALUE, "value")                     \
  X(T_BINDING_FN, "($,ctr)=>{return")     \
  X(T_XML_COMMENT_OPEN, "/***")           \
  X(T_XML_COMMENT_CLOSE, "**/")           \
  X(T_COMMENT_OPEN, "/*")                 \
  X(T_COMMENT_CLOSE, "*/")                \
  X(T_EXPORT_MARK, "/*export*/")          \
  X(T_EXPORTS, "exports")                 \
  X(T_EXPORTS_DEFAULT, "exports.default") \
  X(T_MODULE_EXPORT, "module._export")    \
  X(T_DEFAULT, "default")                 \
  X(T___EXTEND, "__extend")               \
  X(T_PROTOTYPE, "prototype")             \
  X(T_0, "0")                             \
  X(T_1, "1")                             \
  X(T_2, "2")                             \
  X(T_3, "3")                             \
  X(T_VDATA, "vdata")                     \
  X(T_ATTRS_MARK, "/*attrs*/")            \
  X(T_CHILDS_MARK, "/*childs*/")          \
  X(T_VX2, "vx")                          \
  X(T_V, "v")                             \
  X(T_M, "m")                             \
  X(T_STATIC, "static")

#define NUBRIX_GENERATED_TEXTS(X) X(T_REEXPORT_PARAM, "$")

enum Text : uint32_t {
#define NUBRIX_TEXT_ENUM(name, text) name,
  NUBRIX_OUTPUT_TEXTS(NUBRIX_TEXT_ENUM)  //
  TEXT_COUNT,
  // Steps back so that the first generated text takes the index TEXT_COUNT.
  TEXT_LAST_FIXED = TEXT_COUNT - 1,
  NUBRIX_GENERATED_TEXTS(NUBRIX_TEXT_ENUM)  //
  TEXT_TOTAL,
  NO_TEXT = 0xffffffffu,  // a token that no table entry spells
#undef NUBRIX_TEXT_ENUM
};

// The places where a token may stand as a name. Every row of the token list says in
// which of them its token is accepted; a rule that reads a name asks is_name() with its
// place, so a new keyword-as-name rule is one more bit in the list.
enum NamePlace : uint32_t {
  // A variable, a member in a member chain, a class name, a setter's parameter, a
  // declared or exported name, a shorthand key ("identifier-like").
  NAME_VARIABLE = 1u << 0,
  // The name an import binds (`as` and `from` are not).
  NAME_BINDING = 1u << 1,
  // A name inside the braces of an export list (`default` too).
  NAME_EXPORT_LIST = 1u << 2,
  // A class method or accessor name (a string literal too).
  NAME_METHOD = 1u << 3,
  // A class member read straight away as a method or a field; `event`, `get`, `set`,
  // `async` and `static` have member rules of their own.
  NAME_MEMBER = 1u << 4,
  // A segment of a markup attribute name: every word except `static`.
  NAME_ATTRIBUTE = 1u << 5,
  // A key of an object literal in a markup attribute value.
  NAME_KEY = 1u << 6,
  // A method key after `get`, `set` or `async` in such an object literal.
  NAME_PREFIXED_KEY = 1u << 7,
  // A property name after a period: every word.
  NAME_PROPERTY = 1u << 8,
  // What may follow `get` or `set` in a class body for it to be read as an accessor
  // prefix rather than a member named get or set.
  NAME_AFTER_GET_SET = 1u << 9,

  // Shorthands for the rows below.
  NAMES_OF_A_WORD =
      NAME_ATTRIBUTE | NAME_KEY | NAME_PREFIXED_KEY | NAME_PROPERTY | NAME_AFTER_GET_SET,
  NAMES_LIKE_IDENTIFIER = NAMES_OF_A_WORD | NAME_VARIABLE | NAME_EXPORT_LIST | NAME_METHOD,
};

// The token list: X(name, table entry that spells it, keyword text, name places). The
// values are the row numbers, from EOS = 0 to ILLEGAL = 88.
#define NUBRIX_TOKENS(X)                                                              \
  X(EOS, NO_TEXT, nullptr, 0)                                                         \
  X(SHEBANG, NO_TEXT, nullptr, 0)                                                     \
  X(AT, NO_TEXT, nullptr, 0)                                                          \
  X(XML_ELEMENT_TAG, NO_TEXT, nullptr, 0)                                             \
  X(XML_ELEMENT_TAG_END, NO_TEXT, nullptr, 0)                                         \
  X(AT_AT, NO_TEXT, nullptr, 0)                                                       \
  X(XML_COMMENT, NO_TEXT, nullptr, 0)                                                 \
  X(DOLLAR_BRACE, NO_TEXT, nullptr, 0)                                                \
  X(PERCENT_PERCENT_BRACE, NO_TEXT, nullptr, 0)                                       \
  X(PERCENT_BRACE, NO_TEXT, nullptr, 0)                                               \
  X(TEMPLATE_END, NO_TEXT, nullptr, 0)                                                \
  X(LPAREN, T_LPAREN, nullptr, 0)                                                     \
  X(RPAREN, T_RPAREN, nullptr, 0)                                                     \
  X(LBRACK, T_LBRACK, nullptr, 0)                                                     \
  X(RBRACK, T_RBRACK, nullptr, 0)                                                     \
  X(LBRACE, T_LBRACE, nullptr, 0)                                                     \
  X(RBRACE, T_RBRACE, nullptr, 0)                                                     \
  X(COLON, T_COLON, nullptr, 0)                                                       \
  X(SEMICOLON, T_SEMICOLON, nullptr, 0)                                               \
  X(COMMA, T_COMMA, nullptr, 0)                                                       \
  X(CONDITIONAL, T_CONDITIONAL, nullptr, 0)                                           \
  X(PERIOD, T_PERIOD, nullptr, 0)                                                     \
  X(INC, T_INC, nullptr, 0)                                                           \
  X(DEC, T_DEC, nullptr, 0)                                                           \
  X(ASSIGN, T_ASSIGN, nullptr, 0)                                                     \
  X(ASSIGN_BIT_OR, T_ASSIGN_BIT_OR, nullptr, 0)                                       \
  X(ASSIGN_BIT_XOR, T_ASSIGN_BIT_XOR, nullptr, 0)                                     \
  X(ASSIGN_BIT_AND, T_ASSIGN_BIT_AND, nullptr, 0)                                     \
  X(ASSIGN_SHL, T_ASSIGN_SHL, nullptr, 0)                                             \
  X(ASSIGN_SAR, T_ASSIGN_SAR, nullptr, 0)                                             \
  X(ASSIGN_SHR, T_ASSIGN_SHR, nullptr, 0)                                             \
  X(ASSIGN_ADD, T_ASSIGN_ADD, nullptr, 0)                                             \
  X(ASSIGN_SUB, T_ASSIGN_SUB, nullptr, 0)                                             \
  X(ASSIGN_MUL, T_ASSIGN_MUL, nullptr, 0)                                             \
  X(ASSIGN_EXP, T_ASSIGN_EXP, nullptr, 0)                                             \
  X(ASSIGN_DIV, T_ASSIGN_DIV, nullptr, 0)                                             \
  X(ASSIGN_MOD, T_ASSIGN_MOD, nullptr, 0)                                             \
  X(OR, T_OR, nullptr, 0)                                                             \
  X(AND, T_AND, nullptr, 0)                                                           \
  X(BIT_OR, T_BIT_OR, nullptr, 0)                                                     \
  X(BIT_XOR, T_BIT_XOR, nullptr, 0)                                                   \
  X(BIT_AND, T_BIT_AND, nullptr, 0)                                                   \
  X(SHL, T_SHL, nullptr, 0)                                                           \
  X(SAR, T_SAR, nullptr, 0)                                                           \
  X(SHR, T_SHR, nullptr, 0)                                                           \
  X(ADD, T_ADD, nullptr, 0)                                                           \
  X(SUB, T_SUB, nullptr, 0)                                                           \
  X(MUL, T_MUL, nullptr, 0)                                                           \
  X(EXP, T_EXP, nullptr, 0)                                                           \
  X(DIV, T_DIV, nullptr, 0)                                                           \
  X(MOD, T_MOD, nullptr, 0)                                                           \
  X(EQ, T_EQ, nullptr, 0)                                                             \
  X(NE, T_NE, nullptr, 0)                                                             \
  X(EQ_STRICT, T_EQ_STRICT, nullptr, 0)                                               \
  X(NE_STRICT, T_NE_STRICT, nullptr, 0)                                               \
  X(LT, T_LT, nullptr, 0)                                                             \
  X(GT, T_GT, nullptr, 0)                                                             \
  X(LTE, T_LTE, nullptr, 0)                                                           \
  X(GTE, T_GTE, nullptr, 0)                                                           \
  X(INSTANCEOF, NO_TEXT, "instanceof", NAME_ATTRIBUTE | NAME_KEY)                     \
  X(IN, NO_TEXT, "in", NAME_ATTRIBUTE | NAME_KEY)                                     \
  X(NOT, T_NOT, nullptr, 0)                                                           \
  X(BIT_NOT, T_BIT_NOT, nullptr, 0)                                                   \
  X(TYPEOF, NO_TEXT, "typeof", NAME_ATTRIBUTE | NAME_KEY)                             \
  X(NUMBER_LITERAL, NO_TEXT, nullptr, NAME_KEY | NAME_PREFIXED_KEY)                   \
  X(STRING_LITERAL, NO_TEXT, nullptr,                                                 \
    NAME_METHOD | NAME_MEMBER | NAME_KEY | NAME_PREFIXED_KEY | NAME_AFTER_GET_SET)    \
  X(REGEXP_LITERAL, NO_TEXT, nullptr, NAME_AFTER_GET_SET)                             \
  X(IDENTIFIER, NO_TEXT, nullptr, NAMES_LIKE_IDENTIFIER | NAME_BINDING | NAME_MEMBER) \
  X(AS, NO_TEXT, "as", NAMES_LIKE_IDENTIFIER | NAME_MEMBER)                           \
  X(ASYNC, NO_TEXT, "async", NAMES_LIKE_IDENTIFIER | NAME_BINDING)                    \
  X(EXPORT, NO_TEXT, "export", NAMES_OF_A_WORD)                                       \
  X(FROM, NO_TEXT, "from", NAMES_LIKE_IDENTIFIER | NAME_MEMBER)                       \
  X(IMPORT, NO_TEXT, "import", NAMES_OF_A_WORD)                                       \
  X(IF, NO_TEXT, "if", NAMES_OF_A_WORD)                                               \
  X(OF, NO_TEXT, "of", NAMES_LIKE_IDENTIFIER | NAME_BINDING | NAME_MEMBER)            \
  X(RETURN, NO_TEXT, "return", NAMES_OF_A_WORD)                                       \
  X(VAR, NO_TEXT, "var", NAMES_OF_A_WORD)                                             \
  X(CLASS, NO_TEXT, "class", NAMES_OF_A_WORD)                                         \
  X(FUNCTION, NO_TEXT, "function", NAMES_OF_A_WORD)                                   \
  X(LET, NO_TEXT, "let", NAMES_OF_A_WORD)                                             \
  X(DEFAULT, NO_TEXT, "default", NAMES_OF_A_WORD | NAME_EXPORT_LIST)                  \
  X(CONST, NO_TEXT, "const", NAMES_OF_A_WORD)                                         \
  X(EXTENDS, NO_TEXT, "extends", NAMES_OF_A_WORD)                                     \
  X(EVENT, NO_TEXT, "event", NAMES_LIKE_IDENTIFIER | NAME_BINDING)                    \
  X(ELSE, NO_TEXT, "else", NAMES_OF_A_WORD)                                           \
  X(GET, NO_TEXT, "get", NAMES_LIKE_IDENTIFIER | NAME_BINDING)                        \
  X(SET, NO_TEXT, "set", NAMES_LIKE_IDENTIFIER | NAME_BINDING)                        \
  X(STATIC, NO_TEXT, "static", NAME_KEY | NAME_PREFIXED_KEY | NAME_PROPERTY)          \
  X(ILLEGAL, NO_TEXT, nullptr, 0)

enum Token : uint32_t {
#define NUBRIX_TOKEN_ENUM(name, text, keyword, places) name,
  NUBRIX_TOKENS(NUBRIX_TOKEN_ENUM)  //
  TOKEN_COUNT,
#undef NUBRIX_TOKEN_ENUM
};

namespace token_table {
#define NUBRIX_TOKEN_TEXT(name, text, keyword, places) text,
inline constexpr uint32_t kSpelling[TOKEN_COUNT] = {NUBRIX_TOKENS(NUBRIX_TOKEN_TEXT)};
#undef NUBRIX_TOKEN_TEXT
#define NUBRIX_TOKEN_PLACES(name, text, keyword, places) (places),
inline constexpr uint32_t kNamePlaces[TOKEN_COUNT] = {NUBRIX_TOKENS(NUBRIX_TOKEN_PLACES)};
#undef NUBRIX_TOKEN_PLACES
}  // namespace token_table

// Whether token type t may stand as a name in `place`.
constexpr bool is_name(uint32_t t, NamePlace place) {
  return t < TOKEN_COUNT && (token_table::kNamePlaces[t] & place) != 0;
}
// IDENTIFIER, AS, ASYNC, FROM, OF, EVENT, GET, SET: accepted wherever a name is.
constexpr bool is_identifier_like(uint32_t t) {
  return is_name(t, NAME_VARIABLE);
}

// ---- runs of the numbering ----

// A name or a keyword (IDENTIFIER to STATIC).
constexpr bool is_word(uint32_t t) {
  return t >= IDENTIFIER && t <= STATIC;
}
// `=` and the compound assignments.
constexpr bool is_assignment(uint32_t t) {
  return t >= ASSIGN && t <= ASSIGN_MOD;
}
// The binary and relational operators, `instanceof` and `in` included.
constexpr bool is_binary_operator(uint32_t t) {
  return t >= OR && t <= IN;
}
// The punctuators and operators that are written from the table entry spelling them:
// `:` to `%=`, `||` to `>=`, `!` and `~` (brackets open groups instead, and a closing
// bracket out of place is an error).
constexpr bool is_table_operator(uint32_t t) {
  return (t >= COLON && t <= ASSIGN_MOD) || (t >= OR && t <= GTE) || t == NOT || t == BIT_NOT;
}
// The tokens after which an operand starts: `{ } : ; , ?`, every assignment, binary and
// unary operator and the keyword operators (`(` and `[` are tested on their own).
constexpr bool expects_operand_after(uint32_t t) {
  return (t >= LBRACE && t <= CONDITIONAL) || (t >= ASSIGN && t <= TYPEOF);
}

// The numbering fixed for the scanner's table, the parser's runs and the documented
// identifier-like mask.
static_assert(EOS == 0 && TEMPLATE_END == 10 && LPAREN == 11 && RBRACE == 16, "numbering");
static_assert(COLON == 17 && CONDITIONAL == 20 && ASSIGN == 24 && ASSIGN_MOD == 36, "numbering");
static_assert(OR == 37 && GTE == 58 && INSTANCEOF == 59 && IN == 60 && TYPEOF == 63, "numbering");
static_assert(NUMBER_LITERAL == 64 && IDENTIFIER == 67 && SET == 86 && STATIC == 87, "numbering");
static_assert(ILLEGAL == 88 && TOKEN_COUNT == 89, "numbering");
static_assert(TEXT_COUNT == 85 && T_VX2 == 81 && T_STATIC == 84 && T_LF == 52, "text table");
constexpr uint32_t identifier_like_mask() {
  uint32_t mask = 0;
  for (uint32_t t = IDENTIFIER; t <= SET; t++) {
    if (is_identifier_like(t)) mask |= 1u << (t - IDENTIFIER);
  }
  return mask;
}
static_assert(identifier_like_mask() == 0xd0097u, "identifier-like set");

// The table (entries 0 to TEXT_TOTAL - 1), created on first use and never freed.
const String16* output_texts();
inline const String16& output_text(uint32_t i) {
  return output_texts()[i];
}
// The table entry that spells an operator or bracket token, or -1 when it has none.
constexpr int32_t operator_text(uint32_t token) {
  return token < TOKEN_COUNT && token_table::kSpelling[token] != NO_TEXT
             ? (int32_t)token_table::kSpelling[token]
             : -1;
}
// The token's name as written in the list ("IDENTIFIER"), for messages and tests.
const char* token_name(uint32_t token);
// The keyword text of a keyword token ("class"), or nullptr.
const char* keyword_text(uint32_t token);

}  // namespace nubrix

#endif
