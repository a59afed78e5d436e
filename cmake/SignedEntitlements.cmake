# The entitlements the application is signed with, made at build time from the
# file in the repository, so that the next build signs an edit of it:
#
#   cmake -DSOURCE=<file> -DOUTPUT=<file> -DTEAM_ID=<team or empty> -DBUNDLE_IDENTIFIER=<id>
#         -P SignedEntitlements.cmake
#
# With a team, the signature also names the application and its team, which the
# provisioning profile must grant together with the system-extension entitlement.
# Without one (ad hoc), no profile can grant that restricted entitlement, and
# macOS refuses to launch an application that claims it unprovisioned: it is
# left out, and the rest is signed as it stands.
file(READ ${SOURCE} entitlements)
set(end_pattern "</dict>[ \t\r\n]*</plist>[ \t\r\n]*$")
if(NOT entitlements MATCHES "${end_pattern}")
    message(FATAL_ERROR "${SOURCE} does not end with </dict></plist>")
endif()

if(TEAM_ID)
    string(REGEX REPLACE "${end_pattern}" "\t<key>com.apple.application-identifier</key>
\t<string>${TEAM_ID}.${BUNDLE_IDENTIFIER}</string>
\t<key>com.apple.developer.team-identifier</key>
\t<string>${TEAM_ID}</string>
</dict>
</plist>
" entitlements "${entitlements}")
else()
    set(restricted "[ \t]*<key>com\\.apple\\.developer\\.system-extension\\.install</key>[ \t\r\n]*<true/>[ \t]*\r?\n")
    if(NOT entitlements MATCHES "${restricted}")
        message(FATAL_ERROR "${SOURCE} does not claim com.apple.developer.system-extension.install as <true/>")
    endif()
    string(REGEX REPLACE "${restricted}" "" entitlements "${entitlements}")
endif()

file(WRITE ${OUTPUT}.new "${entitlements}")
file(RENAME ${OUTPUT}.new ${OUTPUT})
