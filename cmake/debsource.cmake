# Debian's source package of a library, fetched once into the build tree
# with Debian's patches applied, for the programs that link the library in
# where Debian ships no such build of it: the one-file Windows program
# (zstd, xz, bzip2) and the static Linux one (ISA-L). `apt-get source`
# needs a deb-src entry in apt's sources; scripts/setup adds one.
#
#   zettrik_debsource(PACKAGE VARIABLE)   # VARIABLE: the unpacked folder
function(zettrik_debsource package variable)
  set(dir ${CMAKE_BINARY_DIR}/sources/${package})
  file(GLOB children LIST_DIRECTORIES true ${dir}/*)
  set(unpacked)
  foreach(child ${children})
    if(IS_DIRECTORY ${child})
      set(unpacked ${child})
    endif()
  endforeach()
  if(NOT unpacked)
    file(REMOVE_RECURSE ${dir})
    file(MAKE_DIRECTORY ${dir})
    message(STATUS "Fetching Debian's source package of ${package}")
    execute_process(COMMAND apt-get source -qq ${package} WORKING_DIRECTORY ${dir}
                    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE error)
    file(GLOB children LIST_DIRECTORIES true ${dir}/*)
    foreach(child ${children})
      if(IS_DIRECTORY ${child})
        set(unpacked ${child})
      endif()
    endforeach()
    if(failed OR NOT unpacked)
      file(REMOVE_RECURSE ${dir})
      message(FATAL_ERROR "Cannot fetch Debian's source package of ${package}: ${error}"
                          "apt-get source needs a deb-src entry in apt's sources; "
                          "scripts/setup adds one.")
    endif()
  endif()
  set(${variable} ${unpacked} PARENT_SCOPE)
endfunction()
