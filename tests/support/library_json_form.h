// The JSON library's own compact text of a value, with number exponents
// written the daemon's way (no "+", no leading zeros): the reference the
// daemon's writer is checked against.
#ifndef TARVIX_TESTS_SUPPORT_LIBRARY_JSON_FORM_H_
#define TARVIX_TESTS_SUPPORT_LIBRARY_JSON_FORM_H_

#include <cctype>
#include <string>

#include "json/json.h"

namespace tarvix::testing {

inline std::string LibraryJsonForm(const Json& value) {
  const std::string dumped = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::string out;
  bool in_string = false;
  for (size_t i = 0; i < dumped.size(); ++i) {
    const char c = dumped[i];
    out += c;
    if (in_string) {
      if (c == '\\') {
        out += dumped[++i];
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == 'e') {  // only numbers hold a bare 'e' outside strings
      if (dumped[i + 1] == '+') ++i;
      if (dumped[i + 1] == '-') out += dumped[++i];
      while (dumped[i + 1] == '0' && std::isdigit(static_cast<unsigned char>(dumped[i + 2]))) ++i;
    }
  }
  return out;
}

}  // namespace tarvix::testing

#endif  // TARVIX_TESTS_SUPPORT_LIBRARY_JSON_FORM_H_
