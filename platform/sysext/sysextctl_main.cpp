#include <cerrno>
#include <iostream>
#include <system_error>

#include "Sysextctl.hpp"

// What the tool printed must have reached its reader: a report that went
// nowhere (a full disk, a closed output) is not a success.
int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const int status = sysext::runSysextctl(arguments, std::cout, std::cerr);
    errno = 0;
    if (std::cout.flush()) {
        return status;
    }
    const int why = errno;
    std::cerr << "sysextctl: the output could not be written"
              << (why != 0 ? ": " + std::generic_category().message(why) : std::string()) << "\n";
    return status == sysext::exitSuccess ? sysext::exitStateProblem : status;
}
