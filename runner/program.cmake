# talvor_app.exe: the entry point and the resources over talvor_runner, linked
# with the engine library and the three plugin libraries through their import
# libraries.
add_library(talvor_app_main OBJECT startup/main.cpp)
talvor_strict(talvor_app_main)
target_link_libraries(talvor_app_main PRIVATE talvor_runner)

# talvor_add_program(target VERSION version [OUTPUT_DIRECTORY dir]): the
# program with `version` (cmake/TalvorVersion.cmake) in its version block,
# built as dir/talvor_app.exe when a directory is given. Its manifest, icon 101
# and version block are the objects ${target}_resources, which the test that
# reads them back links directly.
function(talvor_add_program target)
  cmake_parse_arguments(P "" "VERSION;OUTPUT_DIRECTORY" "" ${ARGN})
  talvor_parse_version(${P_VERSION} VERSION)
  set(resources ${TALVOR_SOURCE_ROOT}/runner/resources)
  set(version_header ${CMAKE_CURRENT_BINARY_DIR}/${target}_version/talvor_version.h)
  configure_file(${resources}/talvor_version.h.in ${version_header} @ONLY)

  add_library(${target}_resources OBJECT ${resources}/talvor_app.rc)
  target_include_directories(${target}_resources PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version)
  # The resource compiler reports no dependencies of its own.
  set_property(SOURCE ${resources}/talvor_app.rc APPEND PROPERTY OBJECT_DEPENDS
    ${resources}/app_icon.ico ${resources}/talvor_app.exe.manifest ${resources}/resource.h ${version_header})

  add_executable(${target} WIN32 $<TARGET_OBJECTS:talvor_app_main> $<TARGET_OBJECTS:${target}_resources>)
  talvor_strict(${target})
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
  # The embedding layer is named before the import libraries it draws on, so
  # that a single-pass linker resolves it against them.
  target_link_libraries(${target} PRIVATE talvor_runner talvor_embedding ${TALVOR_ENGINE_LIBRARIES})
  if(P_OUTPUT_DIRECTORY)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME talvor_app RUNTIME_OUTPUT_DIRECTORY ${P_OUTPUT_DIRECTORY})
  endif()
endfunction()

talvor_add_program(talvor_app VERSION ${TALVOR_VERSION})

if(COMMAND talvor_bundle_add_program)
  talvor_bundle_add_program(talvor_app)
endif()
