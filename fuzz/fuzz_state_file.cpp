// The stand-in's state file can be cut short, edited by hand or overwritten
// with anything. The reader must answer with a state or an error, never crash,
// and what it accepts must write back to bytes that read as the same state.
#include <cstdlib>

#include "StateFormat.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto state = sysext::parseState(bytes);
    if (!state) {
        return 0;
    }
    const std::string written = sysext::serializeState(*state);
    const auto reread = sysext::parseState(written);
    if (!reread || sysext::serializeState(*reread) != written) {
        std::abort();
    }
    return 0;
}
