# The vendor ID as the kernel writes it in a HID device's name
# ("BUS:VENDOR:PRODUCT.INSTANCE", each part upper-case hex, 4 digits): the
# form a udev rule must match.
function(tessaro_udev_vendor_hex out value)
  math(EXPR number "${value}")
  if(number LESS 0 OR number GREATER 65535)
    message(FATAL_ERROR "vendor ID ${value} is not a 16-bit number")
  endif()
  math(EXPR hex "${number}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${hex}" 2 -1 hex)
  string(TOUPPER "${hex}" hex)
  string(LENGTH "${hex}" length)
  while(length LESS 4)
    string(PREPEND hex "0")
    math(EXPR length "${length} + 1")
  endwhile()
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()
