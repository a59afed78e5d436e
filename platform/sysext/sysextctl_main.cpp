#include <iostream>

#include "Sysextctl.hpp"

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    return sysext::runSysextctl(arguments, std::cout, std::cerr);
}
