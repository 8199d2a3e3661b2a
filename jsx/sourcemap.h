// The mappings of a version 3 source map: one segment per token start, from a place
// in the output (line, column) to a place in the one source (line, column). Lines
// count from 0, columns in UTF-16 units from the start of the line, as the format
// counts them. Segments arrive in output order; a second one at the same output place
// is dropped.
#ifndef NUBRIX_JSX_SOURCEMAP_H
#define NUBRIX_JSX_SOURCEMAP_H

#include <cstdint>

#include "utils/string.h"

namespace nubrix {

class SourceMapBuilder {
 public:
  void add(uint32_t out_line, uint32_t out_column, uint32_t source_line, uint32_t source_column);
  // The "mappings" field: lines separated by ';', segments by ',', each a Base64 VLQ
  // of the column delta, the source index delta (always 0 after the first), the
  // source line delta and the source column delta.
  [[nodiscard]] const String& mappings() const { return mappings_; }
  [[nodiscard]] uint32_t count() const { return count_; }

 private:
  void vlq(int64_t value);

  String mappings_;
  uint32_t count_ = 0;
  uint32_t line_ = 0;
  int64_t column_ = -1;  // last output column on the current line, -1 before the first
  int64_t source_line_ = 0;
  int64_t source_column_ = 0;
};

// The whole map as JSON text: "file" names the output, "sources" the source (as the
// map should refer to it), "sourcesContent" holds its text.
String source_map_json(const String& file, const String& source, const String& source_text,
                       const SourceMapBuilder& map);

}  // namespace nubrix

#endif
