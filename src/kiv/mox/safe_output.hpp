// Output files are never written in place: a save goes to a new temporary file with a
// unique name in the output's directory, which replaces the output path only once it is
// complete, flushed and closed. On any failure the temporary file is removed and a file
// already standing at the output path is left untouched. When the output path is a
// symbolic link, the file it points to is replaced and the link stays.
#pragma once

#include <string>

namespace KivMox {

class SafeOutput {
 public:
  explicit SafeOutput(const std::string& path);
  ~SafeOutput();  // removes the temporary file unless Commit succeeded
  SafeOutput(const SafeOutput&) = delete;
  SafeOutput& operator=(const SafeOutput&) = delete;

  const std::string& TemporaryPath() const { return temporary_; }
  // Gives the temporary file its final mode and renames it over the target.
  void Commit();

 private:
  std::string target_;
  std::string temporary_;
  bool committed_ = false;
};

}  // namespace KivMox
