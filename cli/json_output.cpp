#include "json_output.h"

#include <cstdio>
#include <string>

#include "text_output.h"

namespace ambrel::cli {

Json JsonText(std::string_view text) { return Json(ValidUtf8(text)); }

void PrintJson(const Json& document) {
  // Every string was made valid on the way in; replacing instead of throwing
  // keeps one missed text from ending the run.
  const std::string text = document.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace ambrel::cli
