# What every build gives its programs for shipping, and what tools/release
# reads back. Included after every program target exists, so that programs
# added later (tessaro-info) are picked up when they are there.

# The programs a release ships, with the description their files carry.
set(TESSARO_RELEASE_PROGRAMS tessaro tessaro-sim)
set(TESSARO_DESCRIPTION_tessaro "Tessaro touch controller firmware and configuration update")
set(TESSARO_DESCRIPTION_tessaro-sim "Tessaro with a simulated touch controller, for rehearsal")
set(TESSARO_DESCRIPTION_tessaro-info "Tessaro touch controller information")
set(TESSARO_DESCRIPTION_tessaro-info-sim "Tessaro touch controller information, simulated controller")
foreach(program tessaro-info tessaro-info-sim)
  if(TARGET ${program})
    list(APPEND TESSARO_RELEASE_PROGRAMS ${program})
  endif()
endforeach()

# The version as four numbers: Windows resources and manifests take no fewer.
set(version_parts "${PROJECT_VERSION_MAJOR}")
foreach(part MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    list(APPEND version_parts 0)
  else()
    list(APPEND version_parts "${PROJECT_VERSION_${part}}")
  endif()
endforeach()
list(JOIN version_parts "," TESSARO_RC_VERSION_COMMAS)
list(JOIN version_parts "." TESSARO_RC_VERSION_DOTTED)

# One file for tools/release: the version the programs report, the vendor ID
# they match, and the programs built.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/release-info.txt CONTENT
"version=${PROJECT_VERSION}
vendor=${TESSARO_VENDOR_ID}
programs=${TESSARO_RELEASE_PROGRAMS}
")

# The vendor ID as the files show it: 0x and four upper-case digits.
math(EXPR vendor_hex "${TESSARO_VENDOR_ID} + 65536" OUTPUT_FORMAT HEXADECIMAL)  # 0x1XXXX: four digits
string(SUBSTRING "${vendor_hex}" 3 4 vendor_hex)
string(TOUPPER "${vendor_hex}" vendor_hex)
set(TESSARO_RELEASE_VENDOR "0x${vendor_hex}")

if(WIN32)
  enable_language(RC)
  set(TESSARO_RC_VENDOR "${TESSARO_RELEASE_VENDOR}")
  foreach(TESSARO_RC_NAME IN LISTS TESSARO_RELEASE_PROGRAMS)
    set(TESSARO_RC_DESCRIPTION "${TESSARO_DESCRIPTION_${TESSARO_RC_NAME}}")
    set(TESSARO_RC_MANIFEST ${CMAKE_BINARY_DIR}/release/${TESSARO_RC_NAME}.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/release/tessaro.manifest.in ${TESSARO_RC_MANIFEST} @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/release/program.rc.in
                   ${CMAKE_BINARY_DIR}/release/${TESSARO_RC_NAME}.rc @ONLY)
    target_sources(${TESSARO_RC_NAME} PRIVATE ${CMAKE_BINARY_DIR}/release/${TESSARO_RC_NAME}.rc)
    set_property(SOURCE ${CMAKE_BINARY_DIR}/release/${TESSARO_RC_NAME}.rc APPEND PROPERTY
                 OBJECT_DEPENDS ${TESSARO_RC_MANIFEST})
    # No link time in the file: two builds of one commit are the same bytes.
    target_link_options(${TESSARO_RC_NAME} PRIVATE -Wl,--no-insert-timestamp)
    if(TESSARO_BUILD_TESTS)
      add_test(NAME Release.WindowsResources.${TESSARO_RC_NAME}
               COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:${TESSARO_RC_NAME}> -DVERSION=${PROJECT_VERSION}
                       -DWINDRES=${CMAKE_RC_COMPILER} -P ${PROJECT_SOURCE_DIR}/tests/release/windows_resources_test.cmake)
    endif()
  endforeach()
else()
  # Man pages, for the programs that have one, with this build's version and
  # vendor ID.
  set(TESSARO_MAN_VENDOR "${TESSARO_RELEASE_VENDOR}")
  foreach(program IN LISTS TESSARO_RELEASE_PROGRAMS)
    if(EXISTS ${PROJECT_SOURCE_DIR}/release/man/${program}.1.in)
      configure_file(${PROJECT_SOURCE_DIR}/release/man/${program}.1.in ${CMAKE_BINARY_DIR}/man/${program}.1 @ONLY)
      install(FILES ${CMAKE_BINARY_DIR}/man/${program}.1 DESTINATION share/man/man1)
      if(TESSARO_BUILD_TESTS)
        add_test(NAME Release.ManPageListsTheOptionsOfHelp.${program}
                 COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DMAN=${CMAKE_BINARY_DIR}/man/${program}.1
                         -P ${PROJECT_SOURCE_DIR}/tests/release/man_options_test.cmake)
      endif()
    endif()
  endforeach()
endif()
