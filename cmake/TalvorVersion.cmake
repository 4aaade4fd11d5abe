# The program's version, MAJOR.MINOR.PATCH+BUILD as the application's own
# version is written (the build number may be left out: "+0").
#
# One version feeds both the executable's version block and the installer
# package. Windows Installer compares only three fields, at most
# 255.255.65535, so the package carries
#
#     MAJOR.MINOR.(PATCH * 1000 + BUILD)        1.0.0+14 -> 1.0.14, 1.2.3+45 -> 1.2.3045
#
# which orders packages exactly as the four-part versions are ordered, every
# build number included, as long as BUILD < 1000. Hence the limits: MAJOR and
# MINOR at most 255, BUILD at most 999, PATCH * 1000 + BUILD at most 65535.
# A version outside them stops the configuration.
#
# talvor_parse_version(TEXT PREFIX) sets in the caller's scope:
#   PREFIX_TEXT    the version as given ("1.0.0+14")
#   PREFIX_MAJOR, PREFIX_MINOR, PREFIX_PATCH, PREFIX_BUILD
#   PREFIX_DOTTED  the four fields with dots ("1.0.0.14"), for CMake's project()
#   PREFIX_COMMAS  the four fields with commas ("1,0,0,14"), for the version block
#   PREFIX_MSI     the package's three-field version ("1.0.14")
function(talvor_parse_version text prefix)
  set(number "(0|[1-9][0-9]*)")
  if(NOT text MATCHES "^${number}\\.${number}\\.${number}(\\+${number})?$")
    message(FATAL_ERROR "version '${text}': expected MAJOR.MINOR.PATCH or MAJOR.MINOR.PATCH+BUILD, "
                        "numbers without leading zeros")
  endif()
  set(major ${CMAKE_MATCH_1})
  set(minor ${CMAKE_MATCH_2})
  set(patch ${CMAKE_MATCH_3})
  set(build 0)
  if(CMAKE_MATCH_5)
    set(build ${CMAKE_MATCH_5})
  endif()
  # Longer numbers than these would overflow math() before the checks below.
  foreach(field major minor patch build)
    string(LENGTH "${${field}}" digits)
    if(digits GREATER 5)
      message(FATAL_ERROR "version '${text}': ${field} ${${field}} is too large")
    endif()
  endforeach()
  math(EXPR msi_build "${patch} * 1000 + ${build}")
  if(major GREATER 255 OR minor GREATER 255)
    message(FATAL_ERROR "version '${text}': MAJOR and MINOR must be at most 255 (Windows Installer)")
  endif()
  if(build GREATER 999 OR msi_build GREATER 65535)
    message(FATAL_ERROR "version '${text}': BUILD must be at most 999 and PATCH * 1000 + BUILD at most 65535 "
                        "(the package's third field)")
  endif()
  set(${prefix}_TEXT "${text}" PARENT_SCOPE)
  set(${prefix}_MAJOR ${major} PARENT_SCOPE)
  set(${prefix}_MINOR ${minor} PARENT_SCOPE)
  set(${prefix}_PATCH ${patch} PARENT_SCOPE)
  set(${prefix}_BUILD ${build} PARENT_SCOPE)
  set(${prefix}_DOTTED "${major}.${minor}.${patch}.${build}" PARENT_SCOPE)
  set(${prefix}_COMMAS "${major},${minor},${patch},${build}" PARENT_SCOPE)
  set(${prefix}_MSI "${major}.${minor}.${msi_build}" PARENT_SCOPE)
endfunction()
