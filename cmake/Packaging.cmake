# What `cmake --install` puts in place: the four tools in bin/, finding the private
# libraries of tessaryn_install_private_libraries() in lib/tessaryn/ through their rpath.
# CPack turns the same tree into one Debian package whose dependencies dpkg-shlibdeps
# reads from the binaries.
set(tessaryn_tools harkline hushline portline pickline)
set_target_properties(${tessaryn_tools} PROPERTIES INSTALL_RPATH "$ORIGIN/../${TESSARYN_PRIVATE_LIBRARY_DIR}")
install(TARGETS ${tessaryn_tools} RUNTIME DESTINATION bin)
# Installing and packaging need the tools only, not every test built first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaryn)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line tools for a voice-input host application")
set(CPACK_PACKAGE_DESCRIPTION "harkline transcribes speech from standard input, hushline mutes and restores \
the default audio output, portline lists, chooses and watches audio input devices, and pickline reports \
what is selected in the frontmost application. Each answers in JSON lines on standard output.")
set(CPACK_PACKAGE_CONTACT "Tessaryn developers")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The libraries come from the binaries; the servers they talk to are the desktop's.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio, at-spi2-core")
set(CPACK_STRIP_FILES ON)
get_property(private_library_folders GLOBAL PROPERTY TESSARYN_PRIVATE_LIBRARY_FOLDERS)
if(private_library_folders)
  list(REMOVE_DUPLICATES private_library_folders)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${private_library_folders})
endif()
include(CPack)
