#include "kiv/mox/progress.hpp"

namespace KivMox {

namespace {
ProgressListener* gListener = nullptr;
}

void SetProgressListener(ProgressListener* listener) {
  gListener = listener;
}
ProgressListener* GetProgressListener() {
  return gListener;
}

}  // namespace KivMox
