// Progress of long loads and saves, for a display that the program may install. The
// library only reports; nothing is shown unless a listener is set.
#pragma once

#include <cstdint>
#include <string>

namespace KivMox {

class ProgressListener {
 public:
  virtual ~ProgressListener() = default;
  // A file is being read.
  virtual void Reading(const std::string& path) = 0;
  // Heavy data of the output: done of total bytes written.
  virtual void Writing(std::uint64_t done, std::uint64_t total) = 0;
  // The operation ended (successfully or not); the display is cleared.
  virtual void Finished() = 0;
};

void SetProgressListener(ProgressListener* listener);
ProgressListener* GetProgressListener();

}  // namespace KivMox
