# talvor_app.exe: the entry point and the resources over talvor_runner, linked
# with the engine library and the three plugin libraries through their import
# libraries.
add_executable(talvor_app WIN32 main.cpp $<TARGET_OBJECTS:talvor_app_resources>)
talvor_strict(talvor_app)
if(MINGW)
  target_link_options(talvor_app PRIVATE -municode)
endif()
# The embedding layer is named before the import libraries it draws on, so
# that a single-pass linker resolves it against them.
target_link_libraries(talvor_app PRIVATE talvor_runner talvor_embedding ${TALVOR_ENGINE_LIBRARIES})

if(COMMAND talvor_bundle_add_program)
  talvor_bundle_add_program(talvor_app)
endif()
