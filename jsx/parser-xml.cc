// View markup in .jsx sources.
#include "jsx/parser.h"

namespace nubrix {

void Parser::parse_xml_element(bool is_child) {
  if (!is_jsx || (!is_child && !expression_may_start(false)) || peek_type() == COLON ||
      peek_type() == PERIOD) {
    // Not markup: a less-than directly followed by a name.
    write(T_LT);
    pass_through();
    return;
  }
  syntax_error();
}

}  // namespace nubrix
