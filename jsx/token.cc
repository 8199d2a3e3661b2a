#include "jsx/token.h"

namespace nubrix {

namespace {

const String16* texts = nullptr;

const char* const kTexts[TEXT_TOTAL] = {" ",
                                        "  ",
                                        "<",
                                        ">",
                                        "+",
                                        "-",
                                        "/",
                                        "=",
                                        "++",
                                        "--",
                                        "|=",
                                        "^=",
                                        "&=",
                                        "<<=",
                                        ">>=",
                                        ">>>=",
                                        "+=",
                                        "-=",
                                        "*=",
                                        "**=",
                                        "/=",
                                        "%=",
                                        "||",
                                        "&&",
                                        "<<",
                                        ">>",
                                        ">>>",
                                        "==",
                                        "!=",
                                        "===",
                                        "!==",
                                        "<=",
                                        ">=",
                                        ".",
                                        "${",
                                        "{",
                                        "}",
                                        "[",
                                        "]",
                                        "(",
                                        ")",
                                        "?",
                                        "!",
                                        "|",
                                        "~",
                                        "^",
                                        "*",
                                        "**",
                                        "&",
                                        "%",
                                        "@",
                                        "\"",
                                        "\n",
                                        "const",
                                        "var",
                                        "require",
                                        ",",
                                        ":",
                                        ";",
                                        "vx",
                                        "__vx",
                                        "value",
                                        "($,ctr)=>{return",
                                        "/***",
                                        "**/",
                                        "/*",
                                        "*/",
                                        "/*export*/",
                                        "exports",
                                        "exports.default",
                                        "module._export",
                                        "default",
                                        "__extend",
                                        "prototype",
                                        "0",
                                        "1",
                                        "2",
                                        "3",
                                        "vdata",
                                        "/*attrs*/",
                                        "/*childs*/",
                                        "vx",
                                        "v",
                                        "m",
                                        "static",
                                        "$"};

}  // namespace

const String16* output_texts() {
  // Created by the first parser; the transpiler runs on one thread.
  if (!texts) {
    String16* table = (String16*)DefaultAllocator::alloc(sizeof(String16) * TEXT_TOTAL);
    for (uint32_t i = 0; i < TEXT_TOTAL; i++) new (table + i) String16(kTexts[i]);
    texts = table;
  }
  return texts;
}

int32_t operator_text(uint32_t token) {
  switch (token) {
    case COLON:
      return T_COLON;
    case SEMICOLON:
      return T_SEMICOLON;
    case COMMA:
      return T_COMMA;
    case CONDITIONAL:
      return T_CONDITIONAL;
    case PERIOD:
      return T_PERIOD;
    case INC:
      return T_INC;
    case DEC:
      return T_DEC;
    case ASSIGN:
      return T_ASSIGN;
    case ASSIGN_BIT_OR:
      return T_ASSIGN_BIT_OR;
    case ASSIGN_BIT_XOR:
      return T_ASSIGN_BIT_XOR;
    case ASSIGN_BIT_AND:
      return T_ASSIGN_BIT_AND;
    case ASSIGN_SHL:
      return T_ASSIGN_SHL;
    case ASSIGN_SAR:
      return T_ASSIGN_SAR;
    case ASSIGN_SHR:
      return T_ASSIGN_SHR;
    case ASSIGN_ADD:
      return T_ASSIGN_ADD;
    case ASSIGN_SUB:
      return T_ASSIGN_SUB;
    case ASSIGN_MUL:
      return T_ASSIGN_MUL;
    case ASSIGN_EXP:
      return T_ASSIGN_EXP;
    case ASSIGN_DIV:
      return T_ASSIGN_DIV;
    case ASSIGN_MOD:
      return T_ASSIGN_MOD;
    case OR:
      return T_OR;
    case AND:
      return T_AND;
    case BIT_OR:
      return T_BIT_OR;
    case BIT_XOR:
      return T_BIT_XOR;
    case BIT_AND:
      return T_BIT_AND;
    case SHL:
      return T_SHL;
    case SAR:
      return T_SAR;
    case SHR:
      return T_SHR;
    case ADD:
      return T_ADD;
    case SUB:
      return T_SUB;
    case MUL:
      return T_MUL;
    case EXP:
      return T_EXP;
    case DIV:
      return T_DIV;
    case MOD:
      return T_MOD;
    case EQ:
      return T_EQ;
    case NE:
      return T_NE;
    case EQ_STRICT:
      return T_EQ_STRICT;
    case NE_STRICT:
      return T_NE_STRICT;
    case LT:
      return T_LT;
    case GT:
      return T_GT;
    case LTE:
      return T_LTE;
    case GTE:
      return T_GTE;
    case NOT:
      return T_NOT;
    case BIT_NOT:
      return T_BIT_NOT;
    case LPAREN:
      return T_LPAREN;
    case RPAREN:
      return T_RPAREN;
    case LBRACK:
      return T_LBRACK;
    case RBRACK:
      return T_RBRACK;
    case LBRACE:
      return T_LBRACE;
    case RBRACE:
      return T_RBRACE;
    default:
      return -1;
  }
}

}  // namespace nubrix
