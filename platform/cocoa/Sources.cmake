# The macOS backend's sources, for both of its builds: the Apple one
# (platform/cocoa/apple) and the GNUstep one here (platform/cocoa). A .mm file
# that none of the lists names stops the configure, so that the two builds
# cannot drift apart unseen.
set(VELTRIN_COCOA_DIR ${CMAKE_CURRENT_LIST_DIR})
# Built and run by both.
set(VELTRIN_COCOA_SOURCES Application.mm Host.mm MainQueue.mm QuitSignals.mm Requests.mm
    Timers.mm UnifiedLog.mm)
# Only Apple's frameworks have what these call; the GNUstep build still compiles
# them against our declarations of it (gnustep/include).
set(VELTRIN_COCOA_APPLE_SOURCES apple/ApprovalHint.mm apple/HomeDirectory.mm
    apple/OperatingSystemVersion.mm apple/Restart.mm)
# What GNUstep lacks, built over the stand-in service and Linux (the home
# directory and the restart come from platform_posix_host).
set(VELTRIN_COCOA_GNUSTEP_SOURCES gnustep/Dispatch.mm gnustep/OsLog.mm gnustep/SystemExtensions.mm)

file(GLOB_RECURSE found RELATIVE ${VELTRIN_COCOA_DIR} CONFIGURE_DEPENDS ${VELTRIN_COCOA_DIR}/*.mm)
set(listed ${VELTRIN_COCOA_SOURCES} ${VELTRIN_COCOA_APPLE_SOURCES} ${VELTRIN_COCOA_GNUSTEP_SOURCES})
list(REMOVE_ITEM found ${listed})
if(found)
    message(FATAL_ERROR "platform/cocoa/Sources.cmake does not say which build compiles: ${found}")
endif()
list(TRANSFORM VELTRIN_COCOA_SOURCES PREPEND ${VELTRIN_COCOA_DIR}/)
list(TRANSFORM VELTRIN_COCOA_APPLE_SOURCES PREPEND ${VELTRIN_COCOA_DIR}/)
list(TRANSFORM VELTRIN_COCOA_GNUSTEP_SOURCES PREPEND ${VELTRIN_COCOA_DIR}/)
