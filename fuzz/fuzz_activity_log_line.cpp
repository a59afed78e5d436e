// The activity-log line must hold the caller's bytes exactly, between the stamp
// and its colon and the closing CR LF, whatever they are.
#include <cstdlib>

#include "FuzzInput.hpp"
#include "veltrin_Driverkit_Launcher/ActivityLog.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string stamp = "05/12/2026 07:41:39";
    const std::string line = launcher::activityLogLine(stamp, text);
    if (line.size() != stamp.size() + 1 + text.size() + 2 || line.compare(0, 19, stamp) != 0 ||
        line[19] != ':' || line.compare(20, text.size(), text) != 0 ||
        line.compare(line.size() - 2, 2, "\r\n") != 0) {
        std::abort();
    }
    return 0;
}
