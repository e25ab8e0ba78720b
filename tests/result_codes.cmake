# Checks that the result codes of images/ and update/ are written once: the
# floors that hand them on (app/ for the exit code and the run records,
# info/ for tessaro-info's plans) use the names from images/ and update/
# headers and never spell a negative number in their .cpp files. The floors
# below update/ keep results of their own, and the simulator its own model.
# Run as: cmake -DROOT=<source dir> -P result_codes.cmake
cmake_minimum_required(VERSION 3.25)
set(folders app info)

set(failures "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${ROOT}/${source}" lines)
    set(number 0)
    foreach(line IN LISTS lines)
      math(EXPR number "${number} + 1")
      # Comments, strings and character literals say nothing about codes.
      string(REGEX REPLACE "\"([^\"\\\\]|\\\\.)*\"" "\"\"" code "${line}")
      string(REGEX REPLACE "'([^'\\\\]|\\\\.)*'" "''" code "${code}")
      string(REGEX REPLACE "//.*$" "" code "${code}")
      if(code MATCHES "(^|[^]A-Za-z0-9_)])-[0-9]")
        string(STRIP "${line}" shown)
        string(APPEND failures "${source}:${number}: a negative number where a named result belongs: ${shown}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
