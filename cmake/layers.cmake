# The layers of the code and what each may use, kept by the build rather than by habit.
#
# Every library is one folder of src/ and names the layers it uses; its sources may include
# headers of its own folder and of those layers (and of theirs) only. An include of any other
# folder of src/ stops the configuration with the file and line, so a lower layer cannot grow
# a dependency on a higher one without someone changing the USES line below it on purpose.
#
# Headers are included from src/ ("tools/text.h", "client/esb_api.h"); each library hands
# that root on to what links it, and nothing else sees it.

set(CUBESEC_SOURCE_ROOT ${CMAKE_SOURCE_DIR}/src)

# The folders whose headers a target that links `libraries` may include.
function(cubesec_folders_of out)
  set(folders)
  foreach(library ${ARGN})
    get_property(used GLOBAL PROPERTY CUBESEC_FOLDERS_${library})
    list(APPEND folders ${used})
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set(${out} ${folders} PARENT_SCOPE)
endfunction()

# Stops the configuration when one of `files` includes a folder of src/ outside `allowed`.
function(cubesec_check_includes target allowed)
  foreach(file ${ARGN})
    file(STRINGS ${file} includes REGEX "^#include \"[a-z_]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([a-z_]+)/.*" "\\1" folder "${line}")
      if(IS_DIRECTORY ${CUBESEC_SOURCE_ROOT}/${folder} AND NOT folder IN_LIST allowed)
        get_filename_component(path ${file} ABSOLUTE)
        file(RELATIVE_PATH path ${CMAKE_SOURCE_DIR} ${path})
        string(REPLACE ";" ", " allowed "${allowed}")
        message(FATAL_ERROR "${path}: ${line}\n${target} may include only: ${allowed}")
      endif()
    endforeach()
  endforeach()
endfunction()

# cubesec_library(NAME FOLDER folder SOURCES files... HEADERS files... USES libraries...)
# A static library of one layer. HEADERS are checked with the sources; USES are the
# libraries of the layers below it that it links and whose headers it may include.
function(cubesec_library name)
  cmake_parse_arguments(L "" "FOLDER" "SOURCES;HEADERS;USES;LINKS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES} ${L_HEADERS})
  target_include_directories(${name} PUBLIC ${CUBESEC_SOURCE_ROOT})
  target_link_libraries(${name} PUBLIC ${L_USES} ${L_LINKS})
  cubesec_folders_of(folders ${L_USES})
  list(APPEND folders ${L_FOLDER})
  list(REMOVE_DUPLICATES folders)
  set_property(GLOBAL PROPERTY CUBESEC_FOLDERS_${name} ${folders})
  cubesec_check_includes(${name} "${folders}" ${L_SOURCES} ${L_HEADERS})
endfunction()

# Checks the sources of a program or a test against the libraries it links.
function(cubesec_check_target target folder)
  cmake_parse_arguments(C "" "" "SOURCES;USES" ${ARGN})
  cubesec_folders_of(folders ${C_USES})
  list(APPEND folders ${folder})
  cubesec_check_includes(${target} "${folders}" ${C_SOURCES})
endfunction()
