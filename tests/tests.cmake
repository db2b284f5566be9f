# The unit tests (one executable) and the end-to-end suite, which runs the
# built program as a user would, under the cross-compiling emulator if any.
enable_testing()

# A cross build runs its tests under Wine, and builds GoogleTest from the
# sources that Debian ships for that.
if(CMAKE_CROSSCOMPILING AND WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ZETTRIK_WINE NAMES wine64 wine PATHS /usr/lib/wine)
  if(ZETTRIK_WINE)
    # A Wine prefix of the build's own, so that the tests depend neither on
    # HOME nor on what a user keeps in ~/.wine; and a UTF-8 locale, in which
    # Wine passes names beyond ASCII between Linux and the program.
    # A variable of this configuration, not of the cache: it follows the
    # build tree, and a user's own -DCMAKE_CROSSCOMPILING_EMULATOR wins.
    set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wine
        LC_ALL=C.UTF-8 ${ZETTRIK_WINE})
  endif()
endif()
# The emulator, written down a word a line for scripts/package, which runs
# the zip's test under it as CTest does.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "\n" words)
  file(WRITE ${CMAKE_BINARY_DIR}/emulator "${words}\n")
endif()
if(CMAKE_CROSSCOMPILING AND EXISTS /usr/src/googletest/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(GTest_FOUND TRUE)
else()
  find_package(GTest)
endif()
if(GTest_FOUND)
  add_executable(zettrik_tests tests/convert_test.cpp tests/scan_test.cpp tests/zip_test.cpp)
  target_link_libraries(zettrik_tests PRIVATE zettrik_core GTest::gtest_main)
  if(TARGET zettrik_zlib)
    target_link_libraries(zettrik_tests PRIVATE zettrik_zlib)
  endif()
  zettrik_warnings(zettrik_tests)
  if(MINGW)
    zettrik_alone(zettrik_tests)
  endif()
  add_test(NAME unit COMMAND zettrik_tests)
else()
  message(STATUS "GoogleTest not found: the unit tests are not built")
endif()

# Python by its path, not as the imported target Python3::Interpreter: CMake
# runs an executable target of a cross build under the emulator, and Wine
# runs a Linux program too but drops its exit status, so every failure of
# the suite passed as success.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  add_test(NAME e2e
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e.py
                   $<TARGET_FILE:zettrik> ${CMAKE_CROSSCOMPILING_EMULATOR})
  # On Windows, a program that holds a log open as a web server may.
  if(WIN32)
    add_executable(zettrik_hold tests/hold.cpp)
    if(MINGW)
      target_link_options(zettrik_hold PRIVATE -municode)
    endif()
    zettrik_warnings(zettrik_hold)
    zettrik_alone(zettrik_hold)
    set_tests_properties(e2e PROPERTIES ENVIRONMENT ZETTRIK_HOLD=$<TARGET_FILE:zettrik_hold>)
  endif()
else()
  message(STATUS "Python 3 not found: the end-to-end tests are not run")
endif()

# The suite once more with the plain scan, which the unit tests hold the
# others to byte for byte: every other run takes the machine's fastest.
# Linux only, and not again under the sanitizers (the unit tests and the
# fuzzers hold the plain scan there): under Wine it would double the
# longest test.
if(Python3_FOUND AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME e2e-plain
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e.py
                   $<TARGET_FILE:zettrik>)
  set_tests_properties(e2e-plain PROPERTIES LABELS plain ENVIRONMENT ZETTRIK_SCAN=plain)
endif()

# Cases that push gigabytes through a pipe: seconds each, so a developer may
# leave them out with ctest -LE huge.
if(Python3_FOUND)
  add_test(NAME e2e-huge
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e.py
                   $<TARGET_FILE:zettrik> ${CMAKE_CROSSCOMPILING_EMULATOR} -- Huge)
  set_tests_properties(e2e-huge PROPERTIES LABELS huge ENVIRONMENT ZETTRIK_HUGE=1 TIMEOUT 900)
endif()

# Wine prepares its prefix on its first start, and says so on standard error;
# that happens once, before every test that runs a Windows program.
if(ZETTRIK_WINE)
  add_test(NAME wine-prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init)
  set_tests_properties(wine-prefix PROPERTIES FIXTURES_SETUP wine)
  get_property(tests DIRECTORY PROPERTY TESTS)
  list(REMOVE_ITEM tests wine-prefix)
  set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED wine)
endif()

# The fuzzers, with clang's libFuzzer: each runs for a bounded time as a
# test, over the seeds in fuzz/corpus and what it finds in the build tree.
if(ZETTRIK_FUZZ)
  # The product's code is instrumented for the fuzzers' coverage; the
  # fuzzers are linked with libFuzzer itself.
  target_compile_options(zettrik_core PRIVATE -fsanitize=fuzzer-no-link)
  set(fuzzers scan convert time text)
  if(ZETTRIK_HAS_ZLIB)
    list(APPEND fuzzers inflate)  # it compresses its inputs with zlib
  endif()
  foreach(name ${fuzzers})
    add_executable(${name}_fuzz fuzz/${name}_fuzz.cpp)
    target_include_directories(${name}_fuzz PRIVATE tests)
    target_link_libraries(${name}_fuzz PRIVATE zettrik_core)
    if(TARGET zettrik_zlib)
      target_link_libraries(${name}_fuzz PRIVATE zettrik_zlib)
    endif()
    target_compile_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
    target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
    zettrik_warnings(${name}_fuzz)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz/${name})
    add_test(NAME fuzz-${name}
             COMMAND ${name}_fuzz -max_total_time=${ZETTRIK_FUZZ_SECONDS} -timeout=20
                     -artifact_prefix=${CMAKE_BINARY_DIR}/fuzz/${name}-
                     ${CMAKE_BINARY_DIR}/fuzz/${name} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus)
    set_tests_properties(fuzz-${name} PROPERTIES LABELS fuzz)
  endforeach()
endif()

# Both suites once more under valgrind's memcheck: any error fails the test.
if(ZETTRIK_MEMCHECK)
  find_program(ZETTRIK_VALGRIND valgrind)
endif()
if(ZETTRIK_MEMCHECK AND NOT ZETTRIK_VALGRIND)
  message(STATUS "valgrind not found: the tests do not run under memcheck")
elseif(ZETTRIK_MEMCHECK)
  set(memcheck ${ZETTRIK_VALGRIND} -q --error-exitcode=99 --leak-check=full)
  if(TARGET zettrik_tests)
    add_test(NAME memcheck-unit COMMAND ${memcheck} $<TARGET_FILE:zettrik_tests>)
    set_tests_properties(memcheck-unit PROPERTIES LABELS memcheck)
  endif()
  add_test(NAME memcheck-e2e
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e.py
                   $<TARGET_FILE:zettrik> ${memcheck})
  set_tests_properties(memcheck-e2e PROPERTIES LABELS memcheck)
endif()

# The CSV in LibreOffice Calc and SQLite, imported with exactly the
# instructions the README gives. Debian's own Python, where openpyxl is.
if(NOT WIN32 AND EXISTS /usr/bin/python3)
  add_test(NAME clients COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/tests/clients.py
                                 $<TARGET_FILE:zettrik>)
  set_tests_properties(clients PROPERTIES LABELS clients SKIP_RETURN_CODE 77 TIMEOUT 600)
endif()

# What reaches the users: the manual page renders without a warning, the
# packages install and convert the sample, and two builds are the same.
if(WIN32 AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME package-zip
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/package-zip.sh ${CMAKE_BINARY_DIR}
                   ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(package-zip PROPERTIES LABELS package FIXTURES_REQUIRED wine)
elseif(NOT WIN32 AND ZETTRIK_STATIC)
  add_test(NAME package-tar COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/package-tar.sh
                                    ${CMAKE_BINARY_DIR})
  set_tests_properties(package-tar PROPERTIES LABELS package)
elseif(NOT WIN32)
  find_program(ZETTRIK_GROFF groff)
  if(ZETTRIK_GROFF)
    add_test(NAME manpage
             COMMAND sh -c "for p; do w=$(${ZETTRIK_GROFF} -ww -z -man \"$p\" 2>&1); echo \"$w\"; test -z \"$w\" || exit 1; done"
                     sh ${CMAKE_CURRENT_SOURCE_DIR}/man/zettrik.1 ${CMAKE_CURRENT_SOURCE_DIR}/man/zettrik.de.1)
    set_tests_properties(manpage PROPERTIES LABELS package)
  endif()
  find_program(ZETTRIK_DPKG dpkg)
  if(ZETTRIK_DPKG)
    add_test(NAME package-deb
             COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/package-deb.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(package-deb PROPERTIES LABELS package SKIP_RETURN_CODE 77)
    add_test(NAME reproducible COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tests/reproducible.sh)
    set_tests_properties(reproducible PROPERTIES LABELS package)
  endif()
endif()
