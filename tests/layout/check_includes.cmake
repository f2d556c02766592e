# Fails when a file under SRC includes against the direction the folders
# depend on: driver → {video, ptz, session, capability} → core → gateway →
# infra. Each folder may include itself, the folders listed for it and the
# public header; a folder not listed here has no place yet and fails too.
#   cmake -DSRC=<dir with the subsystem folders> -P check_includes.cmake
cmake_minimum_required(VERSION 3.25)
set(may_include_infra "")
set(may_include_gateway infra)
set(may_include_core gateway infra)
set(may_include_session core gateway infra)
set(may_include_video core gateway infra)
set(may_include_ptz core gateway infra)
# The capability query logs on and reads the profile the way Open does.
set(may_include_capability session core gateway infra)
set(may_include_driver capability session video ptz core gateway infra)

get_filename_component(SRC "${SRC}" ABSOLUTE)
if(NOT IS_DIRECTORY "${SRC}")
  message(FATAL_ERROR "SRC=${SRC} is not a folder")
endif()

set(violations "")
file(GLOB folders RELATIVE "${SRC}" "${SRC}/*")
foreach(folder ${folders})
  if(NOT IS_DIRECTORY "${SRC}/${folder}")
    continue()
  endif()
  if(NOT DEFINED may_include_${folder})
    list(APPEND violations "${folder}/: a folder without a place in the dependency order")
    continue()
  endif()
  file(GLOB_RECURSE files RELATIVE "${SRC}" "${SRC}/${folder}/*.h" "${SRC}/${folder}/*.cpp")
  foreach(file ${files})
    file(STRINGS "${SRC}/${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^[^\"]*\"([^/\"]+)/.*$" "\\1" target "${line}")
      if(NOT target STREQUAL folder AND NOT target IN_LIST may_include_${folder})
        list(APPEND violations "${file} includes ${target}/")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "Includes against the dependency order:\n  ${text}")
endif()
