# Run by ctest in script mode: a client source that includes a restore header must stop the
# configuration, with the file, the line and what the layer may include.
cmake_policy(VERSION 3.20)
get_filename_component(CMAKE_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)
set(probe ${WORK_DIR}/upward_include.cc)
file(WRITE ${probe} "#include \"client/esb_api.h\"\n#include \"restore/restore.h\"\n")
cubesec_check_includes(cubesec_client "tools;client" ${probe})
message(STATUS "an upward include passed the check")
