// JSON documents as the tools print them: indented by two blanks, texts that are not valid
// UTF-8 repaired, a line end after the document.
#pragma once

#include <ostream>

#include <nlohmann/json.hpp>

namespace MoxTools {

template <class Json>
void PrintJson(const Json& document, std::ostream& out) {
  out << document.dump(2, ' ', false, Json::error_handler_t::replace) << std::endl;
}

}  // namespace MoxTools
