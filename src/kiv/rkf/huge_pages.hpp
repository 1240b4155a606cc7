// Large block buffers (a stream block holds up to 200 MiB) are backed by huge pages where
// the platform offers them: filling such a buffer then costs a hundred page faults instead
// of fifty thousand.
#pragma once

#include <cstddef>

namespace KivRkf {

// Asks for huge pages on the whole pages of [data, data + bytes) when the range is large;
// a hint only, failures are ignored.
void AdviseHugePages(void* data, std::size_t bytes);

}  // namespace KivRkf
