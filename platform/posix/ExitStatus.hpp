// The status the process ends with, however the application comes to end: an
// exit timer, the quit button, a quit signal, or a quit that arrives while a
// backend is blocked. Any thread may read it; 0 until someone sets another.
#pragma once

namespace platform::posix {

void setExitStatus(int status);
int exitStatus();

}  // namespace platform::posix
