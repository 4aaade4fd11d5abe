# The bundle: one folder laid out like an installed copy of the program, in
# ${TALVOR_BUNDLE_DIR} (build/<preset>/bundle):
#
#   talvor_app.exe                       added by the program's build, see below
#   flutter_windows.dll                  the engine stand-in
#   app_links_plugin.dll, flutter_secure_storage_windows_plugin.dll,
#   url_launcher_windows_plugin.dll      the plugin stand-ins
#   talvor.dll, wintun.dll               core and driver stand-ins
#   data\flutter_assets\, data\icudtl.dat, data\app.so
#
# The program's CMake puts its executable in with
#   talvor_bundle_add_program(talvor_app)
# and tests that start the bundle depend on the target talvor_bundle.

set(_bundle_outputs)

foreach(library flutter_windows app_links_plugin flutter_secure_storage_windows_plugin
                url_launcher_windows_plugin talvor_core wintun)
  get_target_property(_file_name ${library} OUTPUT_NAME)
  set(_output ${TALVOR_BUNDLE_DIR}/${_file_name}.dll)
  add_custom_command(OUTPUT ${_output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TALVOR_BUNDLE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${library}> ${_output}
    DEPENDS ${library}
    COMMENT "Bundle: ${_file_name}.dll")
  list(APPEND _bundle_outputs ${_output})
endforeach()

file(GLOB_RECURSE _bundle_data CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/bundle_data/*)
set(_data_stamp ${CMAKE_CURRENT_BINARY_DIR}/bundle_data.stamp)
add_custom_command(OUTPUT ${_data_stamp}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_CURRENT_SOURCE_DIR}/bundle_data ${TALVOR_BUNDLE_DIR}/data
  COMMAND ${CMAKE_COMMAND} -E touch ${_data_stamp}
  DEPENDS ${_bundle_data}
  COMMENT "Bundle: data")
list(APPEND _bundle_outputs ${_data_stamp})

add_custom_target(talvor_bundle ALL DEPENDS ${_bundle_outputs})
# What a step that reads the whole bundle (the installer package) depends on.
set_property(GLOBAL PROPERTY TALVOR_BUNDLE_OUTPUTS ${_bundle_outputs})

# talvor_bundle_add_program(target): copies the target's executable into the
# bundle whenever it is rebuilt, as part of talvor_bundle.
function(talvor_bundle_add_program target)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/talvor_bundle_${target}.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TALVOR_BUNDLE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${TALVOR_BUNDLE_DIR}/
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${target}
    COMMENT "Bundle: ${target}")
  add_custom_target(talvor_bundle_${target} DEPENDS ${stamp})
  add_dependencies(talvor_bundle talvor_bundle_${target})
endfunction()

# talvor_test_uses_bundle(target): the test program `target` finds the bundle
# and the core variants (talvor::test::BundleDirectory() and CoreVariant() of
# tests/support/bundle_copy.h), and they are built before it.
function(talvor_test_uses_bundle target)
  get_target_property(output_dir ${target} RUNTIME_OUTPUT_DIRECTORY)
  if(NOT output_dir)
    get_target_property(binary_dir ${target} BINARY_DIR)
    set(output_dir ${binary_dir})
  endif()
  file(RELATIVE_PATH bundle ${output_dir} ${TALVOR_BUNDLE_DIR})
  file(RELATIVE_PATH variants ${output_dir} ${TALVOR_CORE_VARIANTS_DIR})
  target_compile_definitions(${target} PRIVATE
    TALVOR_TEST_BUNDLE_FROM_TEST="${bundle}"
    TALVOR_TEST_CORE_VARIANTS_FROM_TEST="${variants}")
  add_dependencies(${target} talvor_bundle talvor_core_variants)
endfunction()
