# The unit tests (one executable) and the end-to-end suite, which runs the
# built program as a user would, under the cross-compiling emulator if any.
enable_testing()

find_package(GTest)
if(GTest_FOUND)
  add_executable(zettrik_tests tests/convert_test.cpp tests/console_test.cpp)
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
