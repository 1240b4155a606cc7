// Method names of tree failures, kept for the life of the process.
#include "kiv/adt/tree.hpp"

#include <set>

namespace KivAdt {

const char* MethodName(const std::string& name) {
  static std::set<std::string> names;
  return names.insert(name).first->c_str();
}

}  // namespace KivAdt
