// The command line as the kernel handed it over, for every backend: a toolkit
// gets to see it only as far as the backend lets it.
#pragma once

namespace platform::posix {

// Kept for processArguments; call it before the toolkit can change argv.
void rememberProcessArguments(int argc, const char* const* argv);

}  // namespace platform::posix
