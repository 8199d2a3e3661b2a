// The token numbering shared by the scanner and the parser, and the table of output
// texts the parser writes for operators and generated code. The parser tests
// contiguous ranges of the numbering (see the range helpers), so the order matters.
#ifndef NUBRIX_JSX_TOKEN_H
#define NUBRIX_JSX_TOKEN_H

#include <cstdint>

#include "utils/string.h"

namespace nubrix {

enum Token : uint32_t {
  EOS = 0,
  SHEBANG,
  AT,
  XML_ELEMENT_TAG,
  XML_ELEMENT_TAG_END,
  AT_AT,
  XML_COMMENT,
  DOLLAR_BRACE,
  PERCENT_PERCENT_BRACE,
  PERCENT_BRACE,
  TEMPLATE_END,  // 10
  LPAREN,
  RPAREN,
  LBRACK,
  RBRACK,
  LBRACE,  // 15
  RBRACE,
  COLON,
  SEMICOLON,
  COMMA,
  CONDITIONAL,  // 20
  PERIOD,
  INC,
  DEC,
  ASSIGN,  // 24
  ASSIGN_BIT_OR,
  ASSIGN_BIT_XOR,
  ASSIGN_BIT_AND,
  ASSIGN_SHL,
  ASSIGN_SAR,
  ASSIGN_SHR,  // 30
  ASSIGN_ADD,
  ASSIGN_SUB,
  ASSIGN_MUL,
  ASSIGN_EXP,
  ASSIGN_DIV,  // 35
  ASSIGN_MOD,
  OR,
  AND,
  BIT_OR,
  BIT_XOR,  // 40
  BIT_AND,
  SHL,
  SAR,
  SHR,
  ADD,  // 45
  SUB,
  MUL,
  EXP,
  DIV,
  MOD,  // 50
  EQ,
  NE,
  EQ_STRICT,
  NE_STRICT,
  LT,  // 55
  GT,
  LTE,
  GTE,
  INSTANCEOF,
  IN,  // 60
  NOT,
  BIT_NOT,
  TYPEOF,
  NUMBER_LITERAL,
  STRING_LITERAL,  // 65
  REGEXP_LITERAL,
  IDENTIFIER,
  AS,
  ASYNC,
  EXPORT,  // 70
  FROM,
  IMPORT,
  IF,
  OF,
  RETURN,  // 75
  VAR,
  CLASS,
  FUNCTION,
  LET,
  DEFAULT,  // 80
  CONST,
  EXTENDS,
  EVENT,
  ELSE,
  GET,  // 85
  SET,
  STATIC,
  ILLEGAL,  // 88
};

// Names accepted wherever a name is allowed: IDENTIFIER, AS, ASYNC, FROM, OF, EVENT,
// GET, SET (a bit set over type - IDENTIFIER).
inline bool is_identifier_like(uint32_t t) {
  return t >= IDENTIFIER && t <= SET && ((0xd0097u >> (t - IDENTIFIER)) & 1);
}

// Indices into the output text table.
enum Text : uint32_t {
  T_SPACE = 0,
  T_TWO_SPACES = 1,
  T_LT = 2,
  T_GT = 3,
  T_ADD = 4,
  T_SUB = 5,
  T_DIV = 6,
  T_ASSIGN = 7,
  T_INC = 8,
  T_DEC = 9,
  T_ASSIGN_BIT_OR = 10,
  T_ASSIGN_BIT_XOR = 11,
  T_ASSIGN_BIT_AND = 12,
  T_ASSIGN_SHL = 13,
  T_ASSIGN_SAR = 14,
  T_ASSIGN_SHR = 15,
  T_ASSIGN_ADD = 16,
  T_ASSIGN_SUB = 17,
  T_ASSIGN_MUL = 18,
  T_ASSIGN_EXP = 19,
  T_ASSIGN_DIV = 20,
  T_ASSIGN_MOD = 21,
  T_OR = 22,
  T_AND = 23,
  T_SHL = 24,
  T_SAR = 25,
  T_SHR = 26,
  T_EQ = 27,
  T_NE = 28,
  T_EQ_STRICT = 29,
  T_NE_STRICT = 30,
  T_LTE = 31,
  T_GTE = 32,
  T_PERIOD = 33,
  T_DOLLAR_BRACE = 34,
  T_LBRACE = 35,
  T_RBRACE = 36,
  T_LBRACK = 37,
  T_RBRACK = 38,
  T_LPAREN = 39,
  T_RPAREN = 40,
  T_CONDITIONAL = 41,
  T_NOT = 42,
  T_BIT_OR = 43,
  T_BIT_NOT = 44,
  T_BIT_XOR = 45,
  T_MUL = 46,
  T_EXP = 47,
  T_BIT_AND = 48,
  T_MOD = 49,
  T_AT = 50,
  T_QUOTE = 51,
  T_LF = 52,
  T_CONST = 53,
  T_VAR = 54,
  T_REQUIRE = 55,
  T_COMMA = 56,
  T_COLON = 57,
  T_SEMICOLON = 58,
  T_VX = 59,
  T___VX = 60,
  T_VALUE = 61,
  T_BINDING_FN = 62,
  T_XML_COMMENT_OPEN = 63,
  T_XML_COMMENT_CLOSE = 64,
  T_COMMENT_OPEN = 65,
  T_COMMENT_CLOSE = 66,
  T_EXPORT_MARK = 67,
  T_EXPORTS = 68,
  T_EXPORTS_DEFAULT = 69,
  T_MODULE_EXPORT = 70,
  T_DEFAULT = 71,
  T___EXTEND = 72,
  T_PROTOTYPE = 73,
  T_0 = 74,
  T_1 = 75,
  T_2 = 76,
  T_3 = 77,
  T_VDATA = 78,
  T_ATTRS_MARK = 79,
  T_CHILDS_MARK = 80,
  T_VX2 = 81,
  T_V = 82,
  T_M = 83,
  T_STATIC = 84,
  TEXT_COUNT = 85,
  // Generated-code texts beyond the fixed table.
  T_REEXPORT_PARAM = 85,
  TEXT_TOTAL = 86,
};

// The table (85 entries), created on first use and never freed.
const String16* output_texts();
inline const String16& output_text(uint32_t i) {
  return output_texts()[i];
}
// The table entry that spells an operator token, or -1 when it has none.
int32_t operator_text(uint32_t token);

}  // namespace nubrix

#endif
