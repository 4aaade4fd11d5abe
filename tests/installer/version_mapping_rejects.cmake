# Parses one version (-DTEXT=...) and ends; version_mapping_test.cmake runs it
# for versions that must be refused.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/TalvorVersion.cmake)
talvor_parse_version("${TEXT}" V)
