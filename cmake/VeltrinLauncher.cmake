# The one place that assembles a launcher executable, for every backend (Qt,
# GNUstep, Apple): the program entry, the logic, the seam and what every backend
# shares through POSIX, the backend's libraries, the link order, the output name,
# and the driver extension bundle where that backend's service looks for it.
#
#   veltrin_add_launcher(<target>
#       LIBRARIES <library>...       the backend, and what the platform does not
#                                    provide on its own
#       [SHIMS <library>...]         stand-ins for what the platform has built in
#                                    (the GNUstep build's SystemExtensions, say);
#                                    the Apple dry run does not ask the Apple
#                                    build to link them
#       [LINK_OPTIONS <option>...]   toolkit libraries and frameworks
#       [SOURCES <file>...]          resources of a bundle
#       [OUTPUT_DIRECTORY <dir>]     default: the top of the build tree
#       [MACOSX_BUNDLE])             an application bundle; the driver extension
#                                    goes inside it, else beside the executable
#
# Each launcher's libraries are written to <build>/launchers/<target>.libraries
# and its shims to <target>.shims, one name a line, for the Apple dry run.
set(VELTRIN_LAUNCHER_NAME veltrin_Driverkit_Launcher)

function(veltrin_add_launcher target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "MACOSX_BUNDLE" "OUTPUT_DIRECTORY"
        "LIBRARIES;SHIMS;LINK_OPTIONS;SOURCES")
    if(NOT arg_OUTPUT_DIRECTORY)
        set(arg_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    endif()
    set(bundle "")
    if(arg_MACOSX_BUNDLE)
        set(bundle MACOSX_BUNDLE)
        veltrin_embedded_dext_files(dext_files)
        list(APPEND arg_SOURCES ${dext_files})
    else()
        # The stand-in service looks for the bundle beside the executable.
        configure_file(${PROJECT_SOURCE_DIR}/platform/sysext/Info.in
            ${arg_OUTPUT_DIRECTORY}/${VELTRIN_DEXT_IDENTIFIER}.dext/Info @ONLY)
    endif()

    add_executable(${target} ${bundle}
        ${PROJECT_SOURCE_DIR}/veltrin_Driverkit_Launcher/main.cpp ${arg_SOURCES})
    set_target_properties(${target} PROPERTIES
        OUTPUT_NAME ${VELTRIN_LAUNCHER_NAME} RUNTIME_OUTPUT_DIRECTORY ${arg_OUTPUT_DIRECTORY})
    # platform_seam calls nothing back, and the stand-in's libraries depend on it.
    set(libraries launcher_logic platform_posix ${arg_LIBRARIES} ${arg_SHIMS})
    if(APPLE)
        # ld64 searches static archives until nothing new resolves; -ObjC keeps
        # classes that only a nib names.
        target_link_libraries(${target} PRIVATE veltrin_warnings ${libraries} platform_seam -ObjC
            ${arg_LINK_OPTIONS})
    else()
        # The logic and the backends call into each other (a backend asks the
        # application for its delegate), so the archives are scanned as a group.
        list(JOIN libraries "," group)
        target_link_libraries(${target} PRIVATE veltrin_warnings
            "$<LINK_GROUP:RESCAN,${group}>" platform_seam ${arg_LINK_OPTIONS})
    endif()

    list(JOIN libraries "\n" listed)
    string(APPEND listed "\nplatform_seam")
    list(JOIN arg_SHIMS "\n" shims)
    file(WRITE ${CMAKE_BINARY_DIR}/launchers/${target}.libraries "${listed}\n")
    file(WRITE ${CMAKE_BINARY_DIR}/launchers/${target}.shims "${shims}\n")
endfunction()

# The files of the driver extension inside an application bundle, where the
# system-extension service looks for it: a built bundle named by
# VELTRIN_DEXT_BUNDLE, or a placeholder made from the VELTRIN_DEXT_* settings.
# Every file is a resource of the application, so that a changed extension is
# copied again without the executable being relinked.
function(veltrin_embedded_dext_files out)
    set(location Library/SystemExtensions/${VELTRIN_DEXT_IDENTIFIER}.dext)
    if(VELTRIN_DEXT_BUNDLE)
        veltrin_check_dext_bundle()
        file(GLOB_RECURSE files CONFIGURE_DEPENDS LIST_DIRECTORIES false ${VELTRIN_DEXT_BUNDLE}/*)
        foreach(file IN LISTS files)
            file(RELATIVE_PATH relative ${VELTRIN_DEXT_BUNDLE} ${file})
            get_filename_component(subdirectory ${relative} DIRECTORY)
            set_source_files_properties(${file} PROPERTIES
                MACOSX_PACKAGE_LOCATION ${location}/${subdirectory})
        endforeach()
    else()
        # A driver extension is a shallow bundle: its Info.plist sits at its top.
        set(files ${CMAKE_CURRENT_BINARY_DIR}/dext/Info.plist)
        configure_file(${PROJECT_SOURCE_DIR}/platform/cocoa/apple/DextInfo.plist.in ${files} @ONLY)
        set_source_files_properties(${files} PROPERTIES MACOSX_PACKAGE_LOCATION ${location})
    endif()
    set(${out} ${files} PARENT_SCOPE)
endfunction()

# The service activates the extension whose bundle identifier the request names,
# so a built bundle must be the one VELTRIN_DEXT_IDENTIFIER names.
function(veltrin_check_dext_bundle)
    set(info ${VELTRIN_DEXT_BUNDLE}/Info.plist)
    if(NOT EXISTS ${info})
        message(FATAL_ERROR "VELTRIN_DEXT_BUNDLE: no driver extension at ${VELTRIN_DEXT_BUNDLE} (no Info.plist at its top)")
    endif()
    file(READ ${info} head LIMIT 6)
    if(head STREQUAL "bplist")
        execute_process(COMMAND plutil -convert xml1 -o - ${info} OUTPUT_VARIABLE plist)
    else()
        file(READ ${info} plist)
    endif()
    if(NOT plist MATCHES "<key>CFBundleIdentifier</key>[ \t\r\n]*<string>([^<]*)</string>")
        message(FATAL_ERROR "${info} names no CFBundleIdentifier")
    endif()
    if(NOT CMAKE_MATCH_1 STREQUAL VELTRIN_DEXT_IDENTIFIER)
        message(FATAL_ERROR "${VELTRIN_DEXT_BUNDLE} is the extension ${CMAKE_MATCH_1}, but the launcher asks "
            "for VELTRIN_DEXT_IDENTIFIER=${VELTRIN_DEXT_IDENTIFIER}: set one to the other")
    endif()
endfunction()
