# GoogleTest is built from the Debian source package in every build, so that
# native sanitizer builds and the Windows cross build use the same sources.
set(TALVOR_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${TALVOR_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found at ${TALVOR_GOOGLETEST_SOURCE}: install the Debian package 'googletest'")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${TALVOR_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

if(TALVOR_WINDOWS)
  # The private Wine prefix is prepared once before the first Windows test and
  # its wineserver and display are stopped after the last one.
  add_executable(wine_keepalive ${TALVOR_SOURCE_ROOT}/tools/wine_keepalive.c)
  set_target_properties(wine_keepalive PROPERTIES WIN32_EXECUTABLE ON)
  add_test(NAME wine.prepare COMMAND ${TALVOR_SOURCE_ROOT}/tools/wine-run --prepare ${CMAKE_BINARY_DIR} $<TARGET_FILE:wine_keepalive>)
  # Labelled "fixture": CTest adds them by itself to any run that needs Wine,
  # whatever labels that run selects.
  set_tests_properties(wine.prepare PROPERTIES FIXTURES_SETUP wine TIMEOUT 300 LABELS fixture)
  add_test(NAME wine.shutdown COMMAND ${TALVOR_SOURCE_ROOT}/tools/wine-run --shutdown ${CMAKE_BINARY_DIR})
  set_tests_properties(wine.shutdown PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120 LABELS fixture)
endif()

# The kinds of test; every registered test carries exactly one, so that a run
# can pick a kind with `ctest -L KIND` (README, "Tests and figures").
set(TALVOR_TEST_KINDS unit scenario robustness soak fuzz)

function(talvor_check_test_kind name kind)
  if(NOT kind IN_LIST TALVOR_TEST_KINDS)
    message(FATAL_ERROR "test ${name}: KIND must be one of ${TALVOR_TEST_KINDS}, not '${kind}'")
  endif()
endfunction()

# talvor_add_gtest(name KIND kind SOURCES ... LIBS ... [TIMEOUT s] [RESOURCE_LOCK ...]
#                  [DEPENDS_ON ...] [ARGS ...])
# One test binary is one CTest test: under Wine every process start costs, so
# the cases of a binary run in one process and GoogleTest reports them.
function(talvor_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT;KIND" "SOURCES;LIBS;RESOURCE_LOCK;DEPENDS_ON;ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  talvor_strict(${name})
  target_include_directories(${name} PRIVATE ${TALVOR_SOURCE_ROOT})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(T_DEPENDS_ON)
    add_dependencies(${name} ${T_DEPENDS_ON})
  endif()
  talvor_add_gtest_run(${name} PROGRAM ${name} KIND "${T_KIND}" TIMEOUT "${T_TIMEOUT}"
                       RESOURCE_LOCK ${T_RESOURCE_LOCK} ARGS ${T_ARGS})
endfunction()

# talvor_add_gtest_run(test_name PROGRAM target KIND kind [TIMEOUT s]
#                      [RESOURCE_LOCK ...] [ARGS ...])
# A CTest test that runs a GoogleTest program built elsewhere, with arguments
# of its own (for example a second, longer run of the same cases).
function(talvor_add_gtest_run test_name)
  cmake_parse_arguments(T "" "PROGRAM;TIMEOUT;KIND" "RESOURCE_LOCK;ARGS" ${ARGN})
  talvor_check_test_kind(${test_name} "${T_KIND}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${test_name} COMMAND ${T_PROGRAM} --gtest_color=no ${T_ARGS})
  set_tests_properties(${test_name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS ${T_KIND})
  if(T_RESOURCE_LOCK)
    set_tests_properties(${test_name} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
  if(TALVOR_WINDOWS)
    set_tests_properties(${test_name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endfunction()

# talvor_add_script_test(name KIND kind COMMAND command... [TIMEOUT s]): a test
# that runs on this machine rather than under Wine, for what only Linux tools
# can check here (the installer package's tables with msiinfo, its signatures
# with osslsigncode, the version mapping with CMake itself).
function(talvor_add_script_test name)
  cmake_parse_arguments(T "" "TIMEOUT;KIND" "COMMAND" ${ARGN})
  talvor_check_test_kind(${name} "${T_KIND}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS ${T_KIND})
endfunction()
