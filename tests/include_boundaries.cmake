# Fails when a program folder outside platform/ includes Qt, beyond the entry points' own list,
# when app/'s shared vocabulary includes a feature folder or the main module, or when one of the
# gateway's faces includes another face (or its core a face).
# Run as: cmake -DSOURCE_DIR=<checkout> -P include_boundaries.cmake
#
# The list must match platform/README.md. Qt here means Qt's headers (<QWidget>, <QtCore/...>,
# <qglobal.h>), QCustomPlot's, uic's and moc's output, and the private headers of platform's
# libraries (platform/widgets/graphwidgets.h holds Qt classes).
cmake_minimum_required(VERSION 3.25)

if(NOT IS_DIRECTORY "${SOURCE_DIR}/platform")
  message(FATAL_ERROR "SOURCE_DIR \"${SOURCE_DIR}\" is not the checkout")
endif()

set(program_folders app com232 gui logo ui cli gateway)
# file|header: an entry point may create its application object (and read its options) itself.
set(allowed
  "app/main.cpp|QApplication"
  "app/main.cpp|QCommandLineParser"
  "app/demo_main.cpp|QApplication"
  "cli/main.cpp|QCoreApplication")

set(sources)
foreach(folder IN LISTS program_folders)
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/${folder}")
    message(FATAL_ERROR "program folder ${folder}/ is gone: update this check and platform/README.md")
  endif()
  file(GLOB_RECURSE found RELATIVE "${SOURCE_DIR}"
    "${SOURCE_DIR}/${folder}/*.c" "${SOURCE_DIR}/${folder}/*.cc" "${SOURCE_DIR}/${folder}/*.cpp"
    "${SOURCE_DIR}/${folder}/*.cxx" "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.hh"
    "${SOURCE_DIR}/${folder}/*.hpp" "${SOURCE_DIR}/${folder}/*.hxx" "${SOURCE_DIR}/${folder}/*.inl"
    "${SOURCE_DIR}/${folder}/*.ipp" "${SOURCE_DIR}/${folder}/*.mm")
  list(APPEND sources ${found})
endforeach()
# A glob that finds nothing would pass every time.
list(LENGTH sources source_count)
if(source_count LESS 10)
  message(FATAL_ERROR "only ${source_count} sources found under ${program_folders}")
endif()

set(offences)
foreach(source IN LISTS sources)
  file(STRINGS "${SOURCE_DIR}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "include[ \t]*([<\"])([^>\"]+)[>\"]")
      continue()
    endif()
    set(bracket "${CMAKE_MATCH_1}")
    set(header "${CMAKE_MATCH_2}")
    set(qt FALSE)
    if(header MATCHES "^Q[A-Z]" OR header MATCHES "^Qt" OR header MATCHES "^ui_.*\\.h$"
       OR header MATCHES "^moc_" OR header MATCHES "\\.moc$" OR header MATCHES "^platform/[^/]+/")
      set(qt TRUE)
    elseif(bracket STREQUAL "<" AND header MATCHES "^q[a-z0-9_]*\\.h$")
      set(qt TRUE)
    endif()
    if(qt AND NOT "${source}|${header}" IN_LIST allowed)
      string(STRIP "${line}" line)
      list(APPEND offences "${source}: ${line}")
    endif()
  endforeach()
endforeach()

if(offences)
  list(JOIN offences "\n  " text)
  message(FATAL_ERROR "Qt outside platform/ (see platform/README.md for what the entry points "
    "may include):\n  ${text}")
endif()
message(STATUS "${source_count} sources in ${program_folders}: Qt only where allowed")

# The vocabulary every face shares (app/README.md) must build without any feature: the features,
# the command line and the gateway depend on it, never the other way round.
set(vocabulary panelcontrols.h liveobservers.h liveobservers.cpp measurement.h measurement.cpp
  jsontext.h jsontext.cpp parameterwords.h parameterwords.cpp)
set(feature_offences)
foreach(name IN LISTS vocabulary)
  if(NOT EXISTS "${SOURCE_DIR}/app/${name}")
    message(FATAL_ERROR "app/${name} is gone: update this check and app/README.md")
  endif()
  file(STRINGS "${SOURCE_DIR}/app/${name}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"app/")
  foreach(line IN LISTS lines)
    if(line MATCHES "\"app/[^\"/]+/" OR line MATCHES "\"app/K-VEX-RTN-RedozU15\\.h\"")
      string(STRIP "${line}" line)
      list(APPEND feature_offences "app/${name}: ${line}")
    endif()
  endforeach()
endforeach()
if(feature_offences)
  list(JOIN feature_offences "\n  " text)
  message(FATAL_ERROR "app/'s vocabulary depends on a feature or the main module:\n  ${text}")
endif()
message(STATUS "app/'s vocabulary depends on no feature")

# The gateway's calls run one way: the core knows no face, a face knows the core but no other face;
# only the faces' list (gateway/faces/faces.cpp) and serve.cpp name them all.
file(GLOB_RECURSE gateway_sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/gateway/*.h"
  "${SOURCE_DIR}/gateway/*.cpp")
set(face_offences)
set(face_count 0)
foreach(source IN LISTS gateway_sources)
  if(source STREQUAL "gateway/faces/faces.cpp" OR source STREQUAL "gateway/faces/faces.h")
    continue()
  endif()
  set(own "")
  if(source MATCHES "^gateway/faces/([^/]+)/")
    set(own "${CMAKE_MATCH_1}")
    math(EXPR face_count "${face_count} + 1")
  endif()
  file(STRINGS "${SOURCE_DIR}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"gateway/faces/")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "gateway/faces/([^/\"]+)" included "${line}")
    set(included "${CMAKE_MATCH_1}")
    if(source MATCHES "^gateway/core/" OR (NOT own STREQUAL "" AND NOT own STREQUAL included))
      string(STRIP "${line}" line)
      list(APPEND face_offences "${source}: ${line}")
    endif()
  endforeach()
endforeach()
if(face_count LESS 10)
  message(FATAL_ERROR "only ${face_count} sources found under gateway/faces/")
endif()
if(face_offences)
  list(JOIN face_offences "\n  " text)
  message(FATAL_ERROR "a gateway face or the core includes another face (gateway/README.md):\n  ${text}")
endif()
message(STATUS "gateway: no face includes another, the core none")
