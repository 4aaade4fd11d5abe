# Build settings shared by every target of the project.

if(WIN32)
  set(TALVOR_WINDOWS ON)
else()
  set(TALVOR_WINDOWS OFF)
endif()

# Sanitizers apply to everything in a native build, GoogleTest included, so
# that instrumented and uninstrumented code never mix.
if(TALVOR_SANITIZE AND NOT TALVOR_WINDOWS)
  add_compile_options(-fsanitize=${TALVOR_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TALVOR_SANITIZE})
endif()

# A fuzz build instruments everything for coverage; only the fuzz targets
# link libFuzzer's driver.
if(TALVOR_FUZZ AND NOT TALVOR_WINDOWS)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Our own code builds with every warning as an error; third-party code
# (GoogleTest) keeps its own flags.
function(talvor_strict target)
  if(MSVC)
    # Sources are UTF-8 without a byte-order mark; without /utf-8 MSVC reads
    # them in the system's code page and the Russian texts become mojibake.
    target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  endif()
  if(TALVOR_WINDOWS)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
endfunction()

# Headers are included by their folder: #include "codec/encodable_value.h".
set(TALVOR_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
cmake_path(NORMAL_PATH TALVOR_SOURCE_ROOT)
