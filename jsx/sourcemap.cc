#include "jsx/sourcemap.h"

namespace nubrix {

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void push_json_string(String& out, const String& text) {
  out.push("\"");
  for (uint32_t i = 0; i < text.length(); i++) {
    unsigned char c = (unsigned char)text[i];
    if (c == '"' || c == '\\') {
      char escaped[2] = {'\\', (char)c};
      out.push(escaped, 2);
    } else if (c == '\n') {
      out.push("\\n");
    } else if (c < 0x20) {
      out.push(String::format("\\u%04x", c));
    } else {
      out.push(text.data() + i, 1);
    }
  }
  out.push("\"");
}

}  // namespace

void SourceMapBuilder::vlq(int64_t value) {
  uint64_t v = value < 0 ? ((uint64_t)(-value) << 1) | 1 : (uint64_t)value << 1;
  do {
    uint32_t digit = v & 31;
    v >>= 5;
    if (v) digit |= 32;
    mappings_.push(kBase64 + digit, 1);
  } while (v);
}

void SourceMapBuilder::add(uint32_t out_line, uint32_t out_column, uint32_t source_line,
                           uint32_t source_column) {
  if (out_line < line_ || (out_line == line_ && (int64_t)out_column <= column_)) return;
  if (out_line > line_) {
    for (; line_ < out_line; line_++) mappings_.push(";", 1);
    column_ = -1;
  }
  if (column_ >= 0) mappings_.push(",", 1);
  vlq((int64_t)out_column - (column_ < 0 ? 0 : column_));
  vlq(0);
  vlq((int64_t)source_line - source_line_);
  vlq((int64_t)source_column - source_column_);
  column_ = out_column;
  source_line_ = source_line;
  source_column_ = source_column;
  count_++;
}

String source_map_json(const String& file, const String& source, const String& source_text,
                       const SourceMapBuilder& map) {
  String out("{\"version\":3,\"file\":");
  push_json_string(out, file);
  out.push(",\"sources\":[");
  push_json_string(out, source);
  out.push("],\"sourcesContent\":[");
  push_json_string(out, source_text);
  out.push("],\"names\":[],\"mappings\":");
  push_json_string(out, map.mappings());
  out.push("}\n");
  return out;
}

}  // namespace nubrix
