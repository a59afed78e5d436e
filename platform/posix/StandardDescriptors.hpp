// The standard descriptors as the launcher's output lines need them, for every backend.
#pragma once

namespace platform::posix {

// Opens /dev/null on any of descriptors 0, 1 and 2 that whoever started the
// process left closed. Else the toolkit's first files would take those numbers,
// and the lines meant for standard output or standard error would land in them.
// Call it first thing, before anything opens a file.
void openNullOnClosedStandardDescriptors();

}  // namespace platform::posix
