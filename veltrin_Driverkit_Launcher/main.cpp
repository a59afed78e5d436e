#include <cstdlib>

#include "platform/Application.hpp"

int main(int argc, char** argv) {
    std::exit(platform::applicationMain(argc, argv));
}
