# cmake -DEXE=program.exe -DVERSION=x.y.z.w [-DVENDOR=0xVVVV] [-DWINDRES=windres] -P windows_resources_test.cmake
# The program carries the version resource of the build's version and the
# application manifest, as Windows and inventory tools read them.
if(NOT WINDRES)
  set(WINDRES x86_64-w64-mingw32-windres)
endif()
execute_process(COMMAND ${WINDRES} -J coff -O rc -i ${EXE} OUTPUT_VARIABLE rc ERROR_VARIABLE err RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "${WINDRES} cannot read the resources of ${EXE}: ${err}")
endif()

string(REGEX MATCHALL "[0-9]+" parts "${VERSION}.0.0.0")
list(SUBLIST parts 0 4 parts)
list(JOIN parts ", " commas)
get_filename_component(name "${EXE}" NAME_WE)
set(expected
  "FILEVERSION ${commas}\n"
  "PRODUCTVERSION ${commas}\n"
  "VALUE \"FileVersion\", \"${VERSION}\"\n"
  "VALUE \"ProductVersion\", \"${VERSION}\"\n"
  "VALUE \"ProductName\", \"Tessaro\"\n"
  "VALUE \"OriginalFilename\", \"${name}.exe\"\n"
  "VALUE \"FileDescription\", \"Tessaro"
  "1 24 /* RT_MANIFEST */"
  "requestedExecutionLevel level=\"\"asInvoker\"\""
  "supportedOS Id=\"\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"\""
  ">true</longPathAware>"
  ">UTF-8</activeCodePage>")
if(VENDOR)
  list(APPEND expected "USB vendor ID ${VENDOR}\"")
endif()
set(missing "")
foreach(text IN LISTS expected)
  string(FIND "${rc}" "${text}" at)
  if(at LESS 0)
    string(APPEND missing "\n  ${text}")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${EXE} lacks in its resources:${missing}\nits resources:\n${rc}")
endif()
