// A write that cannot be done fails like any other failed write: a reader that
// went away (SIGPIPE) or a file-size limit (SIGXFSZ, ulimit -f) must not kill
// the launcher in the middle of an install. For every backend, before the
// toolkit starts.
#pragma once

namespace platform::posix {

void ignoreWriteFailureSignals();

}  // namespace platform::posix
