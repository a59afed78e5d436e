// activity_log_appender PATH TAG COUNT: appends COUNT lines "TAG:i:xxx..." to the
// activity log at PATH through launcher::writeLog, one open and close per line.
#include <cstdlib>
#include <string>

#include "fake/FakePlatform.hpp"
#include "veltrin_Driverkit_Launcher/ActivityLog.hpp"

int main(int argc, char** argv) {
    if (argc != 4) {
        return 2;
    }
    fake::FakePlatform clock;  // the time stamps
    launcher::logFileURL = launcher::FileURL::fileURLWithPath(argv[1]);
    const std::string tag = argv[2];
    const long count = std::strtol(argv[3], nullptr, 10);
    const std::string padding(150, 'x');
    for (long i = 0; i < count; ++i) {
        launcher::writeLog(tag + ":" + std::to_string(i) + ":" + padding);
    }
    return 0;
}
