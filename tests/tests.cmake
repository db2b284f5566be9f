# The unit tests (one executable) and the end-to-end suite, which runs the
# built program as a user would, under the cross-compiling emulator if any.
enable_testing()

# A cross build runs its tests under Wine, and builds GoogleTest from the
# sources that Debian ships for that.
if(CMAKE_CROSSCOMPILING AND WIN32 AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ZETTRIK_WINE NAMES wine64 wine PATHS /usr/lib/wine)
  if(ZETTRIK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${ZETTRIK_WINE}
        CACHE STRING "Runs the Windows programs" FORCE)
  endif()
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
  add_executable(zettrik_tests tests/convert_test.cpp tests/scan_test.cpp tests/console_test.cpp)
  target_link_libraries(zettrik_tests PRIVATE zettrik_core GTest::gtest_main)
  zettrik_warnings(zettrik_tests)
  add_test(NAME unit COMMAND zettrik_tests)
else()
  message(STATUS "GoogleTest not found: the unit tests are not built")
endif()

find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  add_test(NAME e2e
           COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e.py
                   $<TARGET_FILE:zettrik> ${CMAKE_CROSSCOMPILING_EMULATOR})
else()
  message(STATUS "Python 3 not found: the end-to-end tests are not run")
endif()

# Cases that push gigabytes through a pipe: seconds each, so a developer may
# leave them out with ctest -LE huge.
if(Python3_FOUND)
  add_test(NAME e2e-huge
           COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/tests/e2e.py
                   $<TARGET_FILE:zettrik> ${CMAKE_CROSSCOMPILING_EMULATOR} -- Huge)
  set_tests_properties(e2e-huge PROPERTIES LABELS huge ENVIRONMENT ZETTRIK_HUGE=1 TIMEOUT 900)
endif()

# Wine prepares its prefix on its first start, and says so on standard error;
# that happens once, before every test that runs a Windows program.
if(ZETTRIK_WINE)
  add_test(NAME wine-prefix COMMAND env WINEDEBUG=-all ${ZETTRIK_WINE} wineboot --init)
  set_tests_properties(wine-prefix PROPERTIES FIXTURES_SETUP wine)
  get_property(tests DIRECTORY PROPERTY TESTS)
  list(REMOVE_ITEM tests wine-prefix)
  set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED wine)
endif()
