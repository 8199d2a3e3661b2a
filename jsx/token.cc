#include "jsx/token.h"

namespace nubrix {

namespace {

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
  // Built once, by the first parser on any thread: a function-local static is
  // initialised exactly once even when project builds start parsers in parallel.
  // The table lives until the process ends.
  static const String16* const table = [] {
    String16* texts = (String16*)DefaultAllocator::alloc(sizeof(String16) * TEXT_TOTAL);
    for (uint32_t i = 0; i < TEXT_TOTAL; i++) new (texts + i) String16(kTexts[i]);
    return texts;
  }();
  return table;
}

const char* token_name(uint32_t token) {
  return token < TOKEN_COUNT ? kTokenNames[token] : "?";
}

const char* keyword_text(uint32_t token) {
  return token < TOKEN_COUNT ? kKeywords[token] : nullptr;
}

}  // namespace nubrix
