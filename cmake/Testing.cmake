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

# Both Windows builds run under Wine, each with a Wine state of its own (prefix, Xvfb,
# wineserver): x86_64 through the 64-bit loader, i686 in a 32-bit prefix through the 32-bit
# loader (wine32:i386; tools/setup.sh). Where the kernel cannot run i386 programs, QEMU
# emulates them and a 32-bit Windows program takes about a minute to start: the i686 build
# runs only the tests that need the real 32-bit platform, listed here.
if(WIN32)
  set(ITR_CAN_RUN_WINE ON)
else()
  set(ITR_CAN_RUN_WINE OFF)
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(ITR_WINE_ARCH win64)
  set(ITR_WINE_TIMEOUT 600)
else()
  set(ITR_WINE_ARCH win32)
  set(ITR_WINE_TIMEOUT 1800)
  set(ITR_I686_WINE_TESTS patch_wine_tests music_wine_playback resedit.real_programs e2e.patch_run
                           release.user_run)
endif()
# ./test runs every build's tests in one CTest run, where fixture and lock names are shared:
# each build's are its own, so no build waits for another's Wine.
set(ITR_WINE_FIXTURE ${ITR_TEST_PREFIX}wine)
set(ITR_DISPLAY_LOCK ${ITR_TEST_PREFIX}display)

if(ITR_CAN_RUN_WINE)
  # One private prefix, one Xvfb display and one persistent wineserver for the whole run.
  add_test(NAME ${ITR_TEST_PREFIX}wine.setup
           COMMAND ${ITR_HARNESS} setup ${ITR_WINE_STATE} ${ITR_WINE_ARCH})
  set_tests_properties(${ITR_TEST_PREFIX}wine.setup PROPERTIES FIXTURES_SETUP ${ITR_WINE_FIXTURE}
                       TIMEOUT 1200)
  add_test(NAME ${ITR_TEST_PREFIX}wine.cleanup COMMAND ${ITR_HARNESS} cleanup ${ITR_WINE_STATE})
  set_tests_properties(${ITR_TEST_PREFIX}wine.cleanup PROPERTIES FIXTURES_CLEANUP ${ITR_WINE_FIXTURE})
endif()

# itr_runs_under_wine(<name> <var>): whether this build runs the Windows test <name>.
function(itr_runs_under_wine name var)
  if(NOT ITR_CAN_RUN_WINE)
    set(${var} OFF PARENT_SCOPE)
  elseif(ITR_WINE_ARCH STREQUAL "win32" AND NOT name IN_LIST ITR_I686_WINE_TESTS)
    set(${var} OFF PARENT_SCOPE)
  else()
    set(${var} ON PARENT_SCOPE)
  endif()
endfunction()

# itr_add_gtest(<name> SOURCES ... [LIBS ...] [LABELS ...] [DISPLAY])
# A GoogleTest program: discovered test by test natively, run whole under Wine on Windows.
# DISPLAY marks Windows tests that open windows, so they never run beside another such test.
function(itr_add_gtest name)
  cmake_parse_arguments(ARG "DISPLAY" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  itr_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  if(WIN32)
    itr_runs_under_wine(${name} runs)
    if(runs)
      add_test(NAME ${ITR_TEST_PREFIX}${name}
               COMMAND ${ITR_HARNESS} wine ${ITR_WINE_STATE} $<TARGET_FILE:${name}> --gtest_color=no)
      set_tests_properties(${ITR_TEST_PREFIX}${name} PROPERTIES FIXTURES_REQUIRED ${ITR_WINE_FIXTURE}
                           LABELS "wine;${ARG_LABELS}" TIMEOUT ${ITR_WINE_TIMEOUT})
      if(ARG_DISPLAY)
        set_tests_properties(${ITR_TEST_PREFIX}${name} PROPERTIES RESOURCE_LOCK ${ITR_DISPLAY_LOCK})
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
    itr_runs_under_wine(${name} runs)
    if(NOT runs)
      return()
    endif()
    if(ITR_WINE_TIMEOUT GREATER ARG_TIMEOUT)
      set(ARG_TIMEOUT ${ITR_WINE_TIMEOUT})
    endif()
    add_test(NAME ${ITR_TEST_PREFIX}${name}
             COMMAND ${ITR_HARNESS} exec ${ITR_WINE_STATE} ${ARG_COMMAND})
    set_tests_properties(${ITR_TEST_PREFIX}${name} PROPERTIES FIXTURES_REQUIRED ${ITR_WINE_FIXTURE})
  else()
    add_test(NAME ${ITR_TEST_PREFIX}${name} COMMAND ${ARG_COMMAND})
  endif()
  set_tests_properties(${ITR_TEST_PREFIX}${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                       LABELS "host;${ARG_LABELS}")
  if(ARG_DISPLAY)
    set_tests_properties(${ITR_TEST_PREFIX}${name} PROPERTIES RESOURCE_LOCK ${ITR_DISPLAY_LOCK})
  endif()
endfunction()
