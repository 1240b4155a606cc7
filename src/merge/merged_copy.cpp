#include "merge/merged_copy.hpp"

#include <sys/stat.h>

#include "kiv/log/raise.hpp"
#include "kiv/mox/safe_output.hpp"

namespace MoxMerge {

namespace {

const char* const kMethod = "KivMox::Tree::Save";

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return a == b || (stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 &&
                    sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino);
}

}  // namespace

std::string MergedCopyPath(const std::string& output) {
  return output + ".temp";
}

void CheckMergedCopy(const std::string& output, const std::vector<std::string>& inputs) {
  const std::string copy = MergedCopyPath(output);
  const std::string name =
      copy.substr(copy.rfind('/') == std::string::npos ? 0 : copy.rfind('/') + 1);
  const std::size_t limit = KivMox::NameLimit(KivMox::DirectoryOf(copy));
  KIV_CHECK(
      name.size() <= limit, Miscellaneous,
      "Unable to write \"" + copy + "\": the merge is saved under this name before the view " +
          "points are added, and its " + std::to_string(name.size()) + " bytes are more than the " +
          std::to_string(limit) + " that a file name may have there; choose a shorter output name",
      kMethod);
  for (const auto& input : inputs)
    KIV_CHECK(!SameFile(input, copy), Miscellaneous,
              "Unable to write \"" + copy +
                  "\": the merge is saved under this name before the view points are added, " +
                  "and it is one of the inputs (" + input + ")",
              kMethod);
  struct stat st;
  KIV_CHECK(lstat(copy.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISLNK(st.st_mode),
            Miscellaneous, "Unable to replace \"" + copy + "\"", kMethod);
}

}  // namespace MoxMerge
