# Test registration helpers. Every test name starts with the preset's name, so one CTest
# run over all build folders (see ./test) reports each build's tests apart.
include(GoogleTest)

set(ITR_TEST_PREFIX "${ITR_PRESET}.")
set(ITR_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
set(ITR_HARNESS ${PROJECT_SOURCE_DIR}/tools/wine/harness)
find_program(ITR_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT ITR_PYTHON)
  find_program(ITR_PYTHON NAMES python3 REQUIRED)
endif()

# Only the x86_64 Windows build can run here: Debian's wine64 runs 64-bit programs only.
if(WIN32 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ITR_CAN_RUN_WINE ON)
else()
  set(ITR_CAN_RUN_WINE OFF)
endif()

if(ITR_CAN_RUN_WINE)
  # One private prefix, one Xvfb display and one persistent wineserver for the whole run.
  add_test(NAME ${ITR_TEST_PREFIX}wine.setup COMMAND ${ITR_HARNESS} setup ${ITR_WINE_STATE})
  set_tests_properties(${ITR_TEST_PREFIX}wine.setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  add_test(NAME ${ITR_TEST_PREFIX}wine.cleanup COMMAND ${ITR_HARNESS} cleanup ${ITR_WINE_STATE})
  set_tests_properties(${ITR_TEST_PREFIX}wine.cleanup PROPERTIES FIXTURES_CLEANUP wine)
endif()

# itr_add_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [DISPLAY])
# A GoogleTest program: discovered test by test natively, run whole under Wine on Windows.
# DISPLAY marks Windows tests that open windows, so they never run beside another such test.
function(itr_add_gtest name)
  cmake_parse_arguments(ARG "DISPLAY" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  itr_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  if(WIN32)
    if(ITR_CAN_RUN_WINE)
      add_test(NAME ${ITR_TEST_PREFIX}${name}
               COMMAND ${ITR_HARNESS} wine ${ITR_WINE_STATE} $<TARGET_FILE:${name}> --gtest_color=no)
      set_tests_properties(${ITR_TEST_PREFIX}${name} PROPERTIES FIXTURES_REQUIRED wine
                           LABELS "wine;${ARG_LABELS}" TIMEOUT 600)
      if(ARG_DISPLAY)
        set_tests_properties(${ITR_TEST_PREFIX}${name} PROPERTIES RESOURCE_LOCK display)
      endif()
    endif()
  else()
    gtest_discover_tests(${name} TEST_PREFIX ${ITR_TEST_PREFIX} DISCOVERY_TIMEOUT 120
                         PROPERTIES LABELS "native;${ARG_LABELS}")
  endif()
endfunction()

# itr_add_host_test(<name> [WINE] [DISPLAY] [TIMEOUT s] COMMAND ...)
# A test that runs on the build machine (usually a Python script). WINE gives it the
# harness environment (WINEPREFIX, DISPLAY, HOME) so it can start Windows programs.
function(itr_add_host_test name)
  cmake_parse_arguments(ARG "WINE;DISPLAY" "TIMEOUT" "COMMAND;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  if(ARG_WINE)
    if(NOT ITR_CAN_RUN_WINE)
      return()
    endif()
    add_test(NAME ${ITR_TEST_PREFIX}${name}
             COMMAND ${ITR_HARNESS} exec ${ITR_WINE_STATE} ${ARG_COMMAND})
    set_tests_properties(${ITR_TEST_PREFIX}${name} PROPERTIES FIXTURES_REQUIRED wine)
  else()
    add_test(NAME ${ITR_TEST_PREFIX}${name} COMMAND ${ARG_COMMAND})
  endif()
  set_tests_properties(${ITR_TEST_PREFIX}${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                       LABELS "host;${ARG_LABELS}")
  if(ARG_DISPLAY)
    set_tests_properties(${ITR_TEST_PREFIX}${name} PROPERTIES RESOURCE_LOCK display)
  endif()
endfunction()
