# What `cmake --install` puts in place: the four tools in bin/, finding the private
# libraries of tessaryn_install_private_libraries() in TESSARYN_PRIVATE_LIBRARY_DIR through their rpath,
# their manual pages, and the package's copyright and changelog. CPack turns the same tree
# into one Debian package whose library dependencies dpkg-shlibdeps reads from the binaries.
set(tessaryn_tools harkline hushline portline pickline)
set_target_properties(${tessaryn_tools} PROPERTIES INSTALL_RPATH "$ORIGIN/../${TESSARYN_PRIVATE_LIBRARY_DIR}")
install(TARGETS ${tessaryn_tools} RUNTIME DESTINATION bin)
# Installing and packaging need the tools only, not every test built first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

# The speech engine's libraries come unstripped; the tools themselves are stripped by CPack.
get_property(private_libraries GLOBAL PROPERTY TESSARYN_PRIVATE_LIBRARIES)
foreach(library IN LISTS private_libraries)
  get_filename_component(name ${library} NAME)
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-unneeded --remove-section=.comment
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${TESSARYN_PRIVATE_LIBRARY_DIR}/${name}\" COMMAND_ERROR_IS_FATAL ANY)")
endforeach()

# Debian keeps manual pages and changelogs compressed, with no name or time in the header,
# so that the same sources give the same package.
set(tessaryn_compressed_dir ${CMAKE_CURRENT_BINARY_DIR}/compressed)
file(MAKE_DIRECTORY ${tessaryn_compressed_dir})
function(tessaryn_install_compressed source destination)
  get_filename_component(name ${source} NAME)
  execute_process(COMMAND gzip -9 -n -c ${source} OUTPUT_FILE ${tessaryn_compressed_dir}/${name}.gz
                  COMMAND_ERROR_IS_FATAL ANY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  install(FILES ${tessaryn_compressed_dir}/${name}.gz DESTINATION ${destination})
endfunction()
foreach(tool IN LISTS tessaryn_tools)
  tessaryn_install_compressed(${TESSARYN_PACKAGES_DIR}/${tool}/man/${tool}.1 share/man/man1)
endforeach()
tessaryn_install_compressed(${CMAKE_CURRENT_LIST_DIR}/debian/changelog share/doc/tessaryn)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright DESTINATION share/doc/tessaryn)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessaryn)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line tools for a voice-input host application")
# Lines of at most 80 characters, as Debian's package descriptions keep them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "harkline transcribes speech from standard input, hushline mutes and restores
the default audio output, portline lists, chooses and watches audio input
devices, and pickline reports what is selected in the frontmost application.
Each answers in JSON lines on standard output.")
set(CPACK_PACKAGE_CONTACT "Tessaryn developers <developers@tessaryn.invalid>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the tools load at run time, which dpkg-shlibdeps cannot see in the binaries:
# libcurl (by its soname, when a model is downloaded) and the en-US speech model, without
# which en-US has no engine. These come before the libraries dpkg-shlibdeps finds.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4, pocketsphinx-en-us")
# The servers they talk to are the desktop's.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pipewire-pulse | pulseaudio, at-spi2-core")
set(CPACK_STRIP_FILES ON)
get_property(private_library_folders GLOBAL PROPERTY TESSARYN_PRIVATE_LIBRARY_FOLDERS)
if(private_library_folders)
  list(REMOVE_DUPLICATES private_library_folders)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${private_library_folders})
endif()
include(CPack)
