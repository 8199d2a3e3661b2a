#include "jsx/token.h"

namespace nubrix {

namespace {

const String16* texts = nullptr;

#define NUBRIX_TEXT_LITERAL(name, text) text,
const char* const kTexts[TEXT_TOTAL] = {NUBRIX_OUTPUT_TEXTS(NUBRIX_TEXT_LITERAL)
                                            NUBRIX_GENERATED_TEXTS(NUBRIX_TEXT_LITERAL)};
#undef NUBRIX_TEXT_LITERAL

#define NUBRIX_TOKEN_NAME(name, text, keyword, places) #name,
const char* const kTokenNames[TOKEN_COUNT] = {NUBRIX_TOKENS(NUBRIX_TOKEN_NAME)};
#undef NUBRIX_TOKEN_NAME

#define NUBRIX_TOKEN_KEYWORD(name, text, keyword, places) keyword,
const char* const kKeywords[TOKEN_COUNT] = {NUBRIX_TOKENS(NUBRIX_TOKEN_KEYWORD)};
#undef NUBRIX_TOKEN_KEYWORD

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

const char* token_name(uint32_t token) {
  return token < TOKEN_COUNT ? kTokenNames[token] : "?";
}

const char* keyword_text(uint32_t token) {
  return token < TOKEN_COUNT ? kKeywords[token] : nullptr;
}

}  // namespace nubrix
