# cmake -DSOURCE_DIR=... -DRULE=generated-rule -DVENDOR=build-vendor -P udev_rule_test.cmake
# The kernel names a HID device with upper-case hex of 4 digits; a rule with
# any other spelling of the vendor never matches.
include(${SOURCE_DIR}/platform/linux/udev_rule.cmake)
set(failures 0)
foreach(pair "0x0000=0000" "0xbeef=BEEF" "0xBEEF=BEEF" "165=00A5" "0x1=0001" "0x0ABC=0ABC" "65535=FFFF")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 given)
  list(GET pair 1 expected)
  tessaro_udev_vendor_hex(got "${given}")
  if(NOT got STREQUAL expected)
    message(SEND_ERROR "${given}: got ${got}, expected ${expected}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()

tessaro_udev_vendor_hex(vendor "${VENDOR}")
file(READ "${RULE}" rule)
string(FIND "${rule}" "KERNELS==\"????:${vendor}:????.*\"" at)
if(at LESS 0)
  message(SEND_ERROR "the generated rule does not match vendor ${vendor}:\n${rule}")
endif()
string(FIND "${rule}" "@" at)
if(NOT at LESS 0)
  message(SEND_ERROR "the generated rule keeps a placeholder:\n${rule}")
endif()
# Both ways in: the group for line computers and service accounts, the tag
# for the user at a desktop session.
foreach(access "GROUP=\"plugdev\"" "MODE=\"0660\"" "TAG+=\"uaccess\"")
  string(FIND "${rule}" "${access}" at)
  if(at LESS 0)
    message(SEND_ERROR "the generated rule lacks ${access}:\n${rule}")
  endif()
endforeach()
