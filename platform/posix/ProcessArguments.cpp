// Bytes as the kernel handed them over: no decoding, so an argument that is
// not UTF-8 reaches the report unchanged, and no toolkit's reading of the
// command line (Qt's options, AppKit's defaults) can add, drop or re-encode one.
#include "ProcessArguments.hpp"

#include <string>
#include <vector>

#include "platform/Host.hpp"

namespace platform {

namespace {

std::vector<std::string>& rememberedArguments() {
    static std::vector<std::string> arguments;
    return arguments;
}

}  // namespace

void posix::rememberProcessArguments(int argc, const char* const* argv) {
    std::vector<std::string>& arguments = rememberedArguments();
    arguments.clear();
    for (int i = 0; i < argc && argv[i] != nullptr; ++i) {
        arguments.emplace_back(argv[i]);
    }
}

std::vector<std::string> processArguments() {
    return rememberedArguments();
}

}  // namespace platform
