# cmake -DPROGRAM=program -DMAN=page.1 -P man_options_test.cmake
# The man page's OPTIONS list exactly the options of the program's usage
# text, each with the same short letter, so the two cannot drift apart.

# "x/name" or "/name" for one option, from its line in either text.
function(short_and_long out text)
  string(REGEX MATCH "--([A-Za-z0-9-]+)$" long "${text}")
  set(long "${CMAKE_MATCH_1}")
  set(short "")
  if(text MATCHES "[ \n]-([^ -])[,\" ]")
    set(short "${CMAKE_MATCH_1}")
  endif()
  set(${out} "${short}/${long}" PARENT_SCOPE)
endfunction()

# Every option of the usage text.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_QUIET ERROR_VARIABLE usage RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help exited with ${code}")
endif()
set(from_help "")
string(REGEX MATCHALL "\n  (-[^ ], |    )--[A-Za-z0-9-]+" entries "\n${usage}")
foreach(entry IN LISTS entries)
  short_and_long(entry "${entry}")
  list(APPEND from_help "${entry}")
endforeach()

# The same from the heading line of each .TP entry in the OPTIONS section.
file(READ "${MAN}" page)
string(REPLACE "\\-" "-" page "${page}")
string(FIND "${page}" "\n.SH OPTIONS\n" start)
if(start LESS 0)
  message(FATAL_ERROR "${MAN} has no OPTIONS section")
endif()
string(SUBSTRING "${page}" ${start} -1 section)
string(SUBSTRING "${section}" 5 -1 rest)
string(FIND "${rest}" "\n.SH " end)
string(SUBSTRING "${rest}" 0 ${end} section)
set(from_man "")
string(REGEX MATCHALL "\n\\.TP\n\\.B[IR]? (-[^ ] \", \" )?--[A-Za-z0-9-]+" entries "${section}")
foreach(entry IN LISTS entries)
  short_and_long(entry "${entry}")
  list(APPEND from_man "${entry}")
endforeach()

list(SORT from_help)
list(SORT from_man)
if(from_help STREQUAL "" OR NOT from_help STREQUAL from_man)
  message(FATAL_ERROR "the options differ:\n  --help:   ${from_help}\n  man page: ${from_man}")
endif()
message(STATUS "${MAN}: ${from_man}")
