// A system bus of the tests' own: a dbus-daemon on a socket in a scratch
// directory, with a recording stand-in of logind on it. A launcher whose system
// bus is this one can ask for a restart as often as it likes: the request only
// becomes a line in a file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Child.hpp"

namespace e2e {

class PrivateBus {
  public:
    // Starts both processes under `directory` (which must exist). On failure
    // returns nullptr and says why in `error`.
    // Both end (SIGKILL) with the object.
    static std::unique_ptr<PrivateBus> start(const std::string& directory, std::string& error);

    const std::string& address() const { return address_; }
    // The Reboot calls the stand-in has received since the last time, one line each.
    std::vector<std::string> takeRecordedCalls() const;
    // Asks the bus itself who owns org.freedesktop.login1 and compares it with
    // the stand-in's own connection: empty when all is as it must be, else why not.
    std::string confirmLogindStandIn() const;

  private:
    PrivateBus() = default;

    std::string directory_;
    std::string address_;
    std::string recorderName_;
    std::unique_ptr<Child> daemon_;
    std::unique_ptr<Child> recorder_;
};

// Why running `argv` with `environment` could reach a real restart request, or
// empty when it cannot: a run that may ask for a restart must have its system bus
// pointed at `bus`, on which the logind stand-in is confirmed.
std::string restartGuardViolation(const std::vector<std::string>& argv,
                                  const Environment& environment, const PrivateBus* bus);

}  // namespace e2e
