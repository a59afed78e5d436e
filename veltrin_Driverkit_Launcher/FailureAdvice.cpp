#include "FailureAdvice.hpp"

#include <algorithm>
#include <array>

namespace launcher {

namespace {

namespace Code = platform::SystemExtensionErrorCode;

constexpr std::array<FailureAdvice, 13> table{{
    {Code::unknown, "unknown",
     "The system extension service failed without naming a reason; try again, and if it "
     "fails again, restart the Mac and look in the system log."},
    {Code::missingEntitlement, "missingEntitlement",
     "This copy of the application lacks the entitlement to install system extensions; "
     "install a copy signed by its developer."},
    {Code::unsupportedParentBundleLocation, "unsupportedParentBundleLocation",
     "The application is not in the Applications folder; move it into /Applications and "
     "start it from there."},
    {Code::extensionNotFound, "extensionNotFound",
     "The driver extension is not inside this application, or the application was replaced "
     "since the request; install the application again and start it from /Applications."},
    {Code::extensionMissingIdentifier, "extensionMissingIdentifier",
     "The driver extension in the application has no bundle identifier; install a correctly "
     "built copy of the application."},
    {Code::duplicateExtensionIdentifer, "duplicateExtensionIdentifer",
     "The application holds two extensions with the same bundle identifier; install a "
     "correctly built copy of the application."},
    {Code::unknownExtensionCategory, "unknownExtensionCategory",
     "The system does not know the driver extension's kind, perhaps because this macOS "
     "release is too old for it; update macOS."},
    {Code::codeSignatureInvalid, "codeSignatureInvalid",
     "The driver extension's code signature is not valid (the application was altered or "
     "badly signed); install an unaltered, notarized copy."},
    {Code::validationFailed, "validationFailed",
     "The system could not validate the driver extension; the system log of the extension "
     "service (sysextd) says why."},
    {Code::forbiddenBySystemPolicy, "forbiddenBySystemPolicy",
     "A policy of this Mac's administrator forbids the driver extension; ask the "
     "administrator to allow it, for example with a configuration profile."},
    {Code::requestCanceled, "requestCanceled",
     "The request was canceled before it finished; run the launcher again."},
    {Code::requestSuperseded, "requestSuperseded",
     "Another request for the same extension took this one's place; wait until it has "
     "finished, then run the launcher again."},
    {Code::authorizationRequired, "authorizationRequired",
     "The system could not get the authorization the change needs; run the launcher again "
     "as an administrator of this Mac and approve when asked."},
}};

}  // namespace

std::span<const FailureAdvice> failureAdviceTable() {
    return table;
}

std::string adviceFor(const platform::Error& error) {
    const auto* const advice = std::ranges::find(table, error.code, &FailureAdvice::code);
    if (error.domain == platform::systemExtensionErrorDomain && advice != table.end()) {
        return std::string(advice->sentence) + "\n";
    }
    return "The request failed with error " + std::to_string(error.code) +
           ", which is not one of the system extension service's own; the system log may "
           "say more.\n";
}

}  // namespace launcher
