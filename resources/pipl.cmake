# The effect's plug-in property list, the one place it is written down. From it come the
# bytes embedded in the Linux module, the Windows resource script (type "PIPL", id 16000,
# language 1033) and the version and flag constants that global setup reports, so the host
# reads the same values before loading the module as the module reports once running.
#
# Each entry: key|form|value..., in the order the host reads them. Forms:
#   fourcc   a four-character code, stored as a 32-bit integer (first character highest)
#   pstring  length byte and characters, zero-padded to a multiple of 4 (padding counted)
#   cstring  characters and NUL, zero-padded to a multiple of 4 (padding counted)
#   version  two int16, major first
#   int32 / int16   little-endian integers; an int16 is followed by 2 uncounted zero bytes
# The effect version word comes from the project's one version number (project(VERSION) in
# the top CMakeLists.txt), which the command's --version and the package also show: stage
# release (3), build 1. Bits: build 0-8, stage 9-10, bug fix 11-14, minor 15-18, major's low
# three bits 19-21 and its higher bits 26-29.
set(VEILMORA_PIPL_STAGE 3)
set(VEILMORA_PIPL_BUILD 1)
math(EXPR VEILMORA_PIPL_VERSION_WORD
     "((${PROJECT_VERSION_MAJOR} & 7) << 19) | (((${PROJECT_VERSION_MAJOR} >> 3) & 15) << 26) \
| ((${PROJECT_VERSION_MINOR} & 15) << 15) | ((${PROJECT_VERSION_PATCH} & 15) << 11) \
| ((${VEILMORA_PIPL_STAGE} & 3) << 9) | (${VEILMORA_PIPL_BUILD} & 511)")

set(VEILMORA_PIPL_PROPERTIES
    "kind|fourcc|eFKT"
    "name|pstring|Veilmora"
    "catg|pstring|Orvane"
    "8664|cstring|EntryPointFunc"
    "ePVR|version|2|0"
    "eSVR|version|13|0"
    "eVER|int32|${VEILMORA_PIPL_VERSION_WORD}"
    "eINF|int16|0"
    "eGLO|int32|0x06000440"
    "eGL2|int32|0x00001400"
    "eMNA|pstring|Veilmora by Dunsmoor"
    "aeFL|int32|8")

set(VEILMORA_PIPL_RESOURCE_ID 16000)
set(VEILMORA_PIPL_LANGUAGE 9 1)  # LANG_ENGLISH, SUBLANG_ENGLISH_US: 1033

# Appends the little-endian bytes of an integer to the list named by out.
function(pipl_int out value width)
  set(bytes ${${out}})
  math(EXPR last "${width} - 1")
  foreach(i RANGE ${last})
    math(EXPR byte "((${value}) >> (8 * ${i})) & 0xFF" OUTPUT_FORMAT HEXADECIMAL)
    list(APPEND bytes ${byte})
  endforeach()
  set(${out} ${bytes} PARENT_SCOPE)
endfunction()

function(pipl_chars out text)
  set(bytes ${${out}})
  string(HEX "${text}" hex)
  string(LENGTH "${hex}" hex_length)
  if(hex_length GREATER 0)
    math(EXPR last "${hex_length} - 2")
    foreach(i RANGE 0 ${last} 2)
      string(SUBSTRING "${hex}" ${i} 2 pair)
      list(APPEND bytes "0x${pair}")
    endforeach()
  endif()
  set(${out} ${bytes} PARENT_SCOPE)
endfunction()

function(pipl_pad out)
  set(bytes ${${out}})
  list(LENGTH bytes count)
  math(EXPR missing "(4 - ${count} % 4) % 4")
  if(missing GREATER 0)
    foreach(i RANGE 1 ${missing})
      list(APPEND bytes 0x0)
    endforeach()
  endif()
  set(${out} ${bytes} PARENT_SCOPE)
endfunction()

# A four-character code is an integer with the first character in the top byte, so its
# characters land in the file in reverse order.
function(pipl_fourcc out code)
  set(chars "")
  pipl_chars(chars "${code}")
  list(REVERSE chars)
  set(${out} ${${out}} ${chars} PARENT_SCOPE)
endfunction()

# Builds the whole list into out_bytes; also returns the integer properties by key, as
# PIPL_VALUE_<key>.
function(pipl_build out_bytes)
  list(LENGTH VEILMORA_PIPL_PROPERTIES property_count)
  set(bytes "")
  pipl_int(bytes 1 2)  # leading int16
  pipl_int(bytes 0 4)  # list version
  pipl_int(bytes ${property_count} 4)
  foreach(entry IN LISTS VEILMORA_PIPL_PROPERTIES)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 key)
    list(GET fields 1 form)
    list(GET fields 2 value)
    set(payload "")
    if(form STREQUAL "fourcc")
      pipl_fourcc(payload "${value}")
    elseif(form STREQUAL "pstring")
      string(LENGTH "${value}" length)
      pipl_int(payload ${length} 1)
      pipl_chars(payload "${value}")
      pipl_pad(payload)
    elseif(form STREQUAL "cstring")
      pipl_chars(payload "${value}")
      list(APPEND payload 0x0)
      pipl_pad(payload)
    elseif(form STREQUAL "version")
      list(GET fields 3 minor)
      pipl_int(payload ${value} 2)
      pipl_int(payload ${minor} 2)
    elseif(form STREQUAL "int32")
      pipl_int(payload ${value} 4)
      set(PIPL_VALUE_${key} ${value} PARENT_SCOPE)
    elseif(form STREQUAL "int16")
      pipl_int(payload ${value} 2)
    else()
      message(FATAL_ERROR "PiPL property ${key}: unknown form ${form}")
    endif()
    list(LENGTH payload payload_length)
    pipl_fourcc(bytes "8BIM")
    pipl_fourcc(bytes "${key}")
    pipl_int(bytes 0 4)  # property id
    pipl_int(bytes ${payload_length} 4)
    # Uncounted padding after payloads that are not whole words. Property headers are 16
    # bytes, so padding the payload keeps every property at a multiple of 4 from the start of
    # the property area (offset 10), not of the list.
    set(padded ${payload})
    pipl_pad(padded)
    list(APPEND bytes ${padded})
  endforeach()
  set(${out_bytes} ${bytes} PARENT_SCOPE)
endfunction()
