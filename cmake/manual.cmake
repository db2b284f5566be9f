# Renders the manual page as HTML, for those without man (Windows users
# above all), run at every build of the program:
#
#   cmake -DMAN=zettrik.de.1 -DHTML=zettrik.html -P manual.cmake
#
# It renders only where the page, this script or groff changed since the
# last rendering. Where groff cannot render HTML (groff-base has no html
# device; the package groff brings it), it says so in one line and makes no
# manual, rather than an empty one; where groff fails, the build fails.
# The creation date is left out, so that two builds give the same file.
find_program(groff groff)
find_program(grohtml post-grohtml)  # the html device, of the package groff
if(NOT groff OR NOT grohtml)
  message(STATUS "Note: no HTML manual in this build, as groff's HTML device is not "
                 "installed (the package groff has it); the manual page is there as always")
  file(REMOVE ${HTML})
  return()
endif()
set(fresh TRUE)
foreach(input ${MAN} ${CMAKE_CURRENT_LIST_FILE} ${groff} ${grohtml})
  if(NOT EXISTS ${HTML} OR ${input} IS_NEWER_THAN ${HTML})
    set(fresh FALSE)
  endif()
endforeach()
if(fresh)
  return()
endif()
execute_process(COMMAND ${groff} -Thtml -man -P-l -P-r ${MAN} OUTPUT_VARIABLE html
                ERROR_VARIABLE errors RESULT_VARIABLE failed)
if(failed OR html STREQUAL "")
  file(REMOVE ${HTML})
  message(FATAL_ERROR "groff failed to render the manual as HTML: ${errors}")
endif()
string(REGEX REPLACE "<!-- CreationDate:[^\n]*\n" "" html "${html}")
file(WRITE ${HTML}.new "${html}")
file(RENAME ${HTML}.new ${HTML})
