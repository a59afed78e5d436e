# Writes the configuration profile that lets one team's driver extension be
# activated without the user's approval and removed without an administrator's:
#
#   cmake -DTEAM=<team identifier> -DDEXT=<driver extension identifier>
#         -DDISPLAY_NAME=... -DDESCRIPTION=... -DORGANIZATION=...
#         -DOUTPUT=<file>.mobileconfig -P MakeProfile.cmake
#
# A script rather than configure_file, so that the build and the tests make the
# profile the same way, the tests with teams of their own.
cmake_minimum_required(VERSION 3.25)

string(LENGTH "${TEAM}" team_length)
if(NOT (team_length EQUAL 10 AND TEAM MATCHES "^[A-Z0-9]+$"))
    message(FATAL_ERROR "TEAM must be a team identifier, ten upper-case letters and digits, got '${TEAM}'")
endif()
if(NOT DEXT MATCHES "^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+$")
    message(FATAL_ERROR "DEXT must be a reverse-DNS bundle identifier, got '${DEXT}'")
endif()
if(NOT OUTPUT)
    message(FATAL_ERROR "OUTPUT names the profile to write")
endif()

# The texts come from build settings and may hold what XML reserves.
foreach(text DISPLAY_NAME DESCRIPTION ORGANIZATION)
    string(REPLACE "&" "&amp;" ${text} "${${text}}")
    string(REPLACE "<" "&lt;" ${text} "${${text}}")
    string(REPLACE ">" "&gt;" ${text} "${${text}}")
endforeach()

# macOS replaces an installed profile whose identifier and UUIDs match, so the
# UUIDs are names within a namespace of this project's own: the same team and
# driver give the same UUIDs in every build, another team other ones.
set(namespace 861A7BB3-B759-4FE1-BABE-4D0ED2A24291)
set(PROFILE_IDENTIFIER ${DEXT}.profile)
set(POLICY_IDENTIFIER ${PROFILE_IDENTIFIER}.system-extension-policy)
string(UUID PROFILE_UUID NAMESPACE ${namespace} NAME "${PROFILE_IDENTIFIER} ${TEAM}" TYPE SHA1 UPPER)
string(UUID POLICY_UUID NAMESPACE ${namespace} NAME "${POLICY_IDENTIFIER} ${TEAM}" TYPE SHA1 UPPER)

configure_file(${CMAKE_CURRENT_LIST_DIR}/SystemExtensionPolicy.mobileconfig.in ${OUTPUT} @ONLY)
