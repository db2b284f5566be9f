# One commit gives one program and one package, byte for byte, whenever
# and wherever they are built. SOURCE_DATE_EPOCH, the time that a build
# writes where it writes one (the banner's __DATE__ and __TIME__, the files
# of the packages and the archives), is the time of the last commit where
# it is not set; outside a git checkout, without it, the build's own time.
# The compiler gets it through a launcher, CPack through its project file
# and the archives as an argument: all run after this configuration.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ZETTRIK_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE ZETTRIK_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT ZETTRIK_EPOCH MATCHES "^[0-9]+$")
    set(ZETTRIK_EPOCH "")
  endif()
endif()
if(ZETTRIK_EPOCH)
  foreach(language C CXX)
    if(NOT CMAKE_${language}_COMPILER_LAUNCHER)
      set(CMAKE_${language}_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env
                                               SOURCE_DATE_EPOCH=${ZETTRIK_EPOCH})
    endif()
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/CPackEpoch.cmake
       "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})\n"
       "  set(ENV{SOURCE_DATE_EPOCH} ${ZETTRIK_EPOCH})\n"
       "endif()\n")
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackEpoch.cmake)
endif()
