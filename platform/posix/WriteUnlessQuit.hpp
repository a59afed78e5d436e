// Output to a descriptor that a quit signal can always interrupt, for every backend.
#pragma once

#include <string_view>

namespace platform::posix {

// Writes all of `bytes` to `fd`, waiting for a slow reader the way a blocking
// descriptor would, but never past the moment `quitDescriptor` (-1: none) turns
// readable: a reader that stopped reading must not keep the user from quitting,
// so the rest is then given up. A closed or broken descriptor ends it too.
void writeUnlessQuit(int fd, std::string_view bytes, int quitDescriptor);

}  // namespace platform::posix
