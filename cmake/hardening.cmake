# Debian's build flags, as Debian builds its own packages: the stack
# protector, _FORTIFY_SOURCE, and relocations read-only and bound at start
# (-z relro -z now), from dpkg-buildflags with all of its hardening. For
# the Debian package and the static tarball (the presets release and
# static turn it on). -Wdate-time is left out: the banner's __DATE__ and
# __TIME__ are meant, and follow SOURCE_DATE_EPOCH. The build type's own
# flags come after these, so Release keeps its -O3.
option(ZETTRIK_HARDENING "Compile and link with Debian's build flags (dpkg-buildflags)" OFF)
if(ZETTRIK_HARDENING AND NOT WIN32)
  find_program(ZETTRIK_DPKG_BUILDFLAGS dpkg-buildflags)
  if(NOT ZETTRIK_DPKG_BUILDFLAGS)
    message(FATAL_ERROR "ZETTRIK_HARDENING needs dpkg-buildflags: install dpkg-dev "
                        "(scripts/setup does), or configure with -DZETTRIK_HARDENING=OFF.")
  endif()
  foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${ZETTRIK_DPKG_BUILDFLAGS} --get ${kind}
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE ${kind}
                    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  string(REPLACE "-Wdate-time" "" CPPFLAGS "${CPPFLAGS}")
  # dpkg-buildflags maps the source folder's paths in the debugging
  # sections to "."; a build folder of its own is mapped too, so that two
  # build folders make the same program.
  string(APPEND CXXFLAGS " -ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
  string(APPEND CFLAGS " -ffile-prefix-map=${CMAKE_BINARY_DIR}=.")
  string(APPEND CMAKE_CXX_FLAGS " ${CPPFLAGS} ${CXXFLAGS}")
  string(APPEND CMAKE_C_FLAGS " ${CPPFLAGS} ${CFLAGS}")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " ${LDFLAGS}")
endif()
