# The program's version and the package's: each build number a newer package.
#   cmake -DTALVOR_SOURCE_ROOT=... -P version_mapping_test.cmake
include(${TALVOR_SOURCE_ROOT}/cmake/TalvorVersion.cmake)

set(failures 0)
macro(expect what actual expected)
  if(NOT "${actual}" STREQUAL "${expected}")
    message(SEND_ERROR "${what}: got '${actual}', expected '${expected}'")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

# In ascending order of the program's version; the package's versions must
# ascend with them.
foreach(case
    "0.9.9+999;0.9.9.999;0,9,9,999;0.9.9999"
    "1.0.0;1.0.0.0;1,0,0,0;1.0.0"
    "1.0.0+13;1.0.0.13;1,0,0,13;1.0.13"
    "1.0.0+14;1.0.0.14;1,0,0,14;1.0.14"
    "1.0.0+999;1.0.0.999;1,0,0,999;1.0.999"
    "1.0.1;1.0.1.0;1,0,1,0;1.0.1000"
    "1.0.1+2;1.0.1.2;1,0,1,2;1.0.1002"
    "1.2.3+45;1.2.3.45;1,2,3,45;1.2.3045"
    "1.10.0;1.10.0.0;1,10,0,0;1.10.0"
    "255.255.65+535;255.255.65.535;255,255,65,535;255.255.65535")
  list(GET case 0 text)
  list(GET case 1 dotted)
  list(GET case 2 commas)
  list(GET case 3 msi)
  talvor_parse_version(${text} V)
  expect("${text} text" "${V_TEXT}" "${text}")
  expect("${text} four fields" "${V_DOTTED}" "${dotted}")
  expect("${text} version block" "${V_COMMAS}" "${commas}")
  expect("${text} package" "${V_MSI}" "${msi}")
  if(DEFINED previous_msi AND NOT V_MSI VERSION_GREATER previous_msi)
    message(SEND_ERROR "${text}: package ${V_MSI} is not newer than ${previous_msi} of the version before")
    math(EXPR failures "${failures} + 1")
  endif()
  set(previous_msi ${V_MSI})
endforeach()

# Versions outside the package's range stop the configuration: each is run in
# a CMake of its own, which must fail with the reason.
foreach(case
    "256.0.0;MAJOR and MINOR must be at most 255"
    "1.256.0;MAJOR and MINOR must be at most 255"
    "1.0.0+1000;BUILD must be at most 999"
    "1.0.65+536;PATCH * 1000 + BUILD at most 65535"
    "1.0.66;PATCH * 1000 + BUILD at most 65535"
    "1.0.4294967296;is too large"
    "1.0;expected MAJOR.MINOR.PATCH"
    "1.0.0.14;expected MAJOR.MINOR.PATCH"
    "01.0.0;without leading zeros"
    "1.0.0+;expected MAJOR.MINOR.PATCH"
    "v1.0.0;expected MAJOR.MINOR.PATCH")
  list(GET case 0 text)
  list(GET case 1 reason)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DTEXT=${text} -P ${CMAKE_CURRENT_LIST_DIR}/version_mapping_rejects.cmake
    RESULT_VARIABLE result ERROR_VARIABLE error OUTPUT_QUIET)
  string(REPLACE "\n" " " error "${error}")
  string(REGEX REPLACE " +" " " error "${error}")
  string(FIND "${error}" "version '${text}'" names_version)
  string(FIND "${error}" "${reason}" names_reason)
  if(result EQUAL 0)
    message(SEND_ERROR "${text} was accepted")
    math(EXPR failures "${failures} + 1")
  elseif(names_version EQUAL -1 OR names_reason EQUAL -1)
    message(SEND_ERROR "${text} was refused without saying '${reason}': ${error}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "version mapping: ${failures} checks failed")
endif()
message(STATUS "version mapping: every check passed")
