#include "LauncherTest.hpp"
