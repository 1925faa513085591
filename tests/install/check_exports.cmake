# The driver's dynamic symbol table must define VANTU_DLL_Init and nothing
# else that a host could bind to.
#
#   cmake -DNM=... -DLIBRARY=... -P check_exports.cmake

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed: ${err}")
endif()

string(REPLACE "\n" ";" lines "${out}")
set(found_entry FALSE)
set(unexpected "")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  # "<address> <type> <name>[@version]"
  string(REGEX MATCH "^[0-9a-fA-F]+ ([A-Za-z]) ([^@ ]+)" _ "${line}")
  set(type "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  if(name STREQUAL "VANTU_DLL_Init" AND type STREQUAL "T")
    set(found_entry TRUE)
  else()
    list(APPEND unexpected "${line}")
  endif()
endforeach()

if(NOT found_entry)
  message(FATAL_ERROR "VANTU_DLL_Init is not exported as a function:\n${out}")
endif()
if(unexpected)
  string(REPLACE ";" "\n" unexpected "${unexpected}")
  message(FATAL_ERROR "unexpected exported symbols:\n${unexpected}")
endif()
message(STATUS "exports: VANTU_DLL_Init only")
