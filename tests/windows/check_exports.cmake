# cmake -DOBJDUMP=... -DLIBRARY=MorvanePelindra.dll [-DFRAMEWORK=OFF] -P check_exports.cmake
#
# Reads the DLL's export and import tables with objdump -p and checks that it
# exports Pelindra alone, by name, as ordinal 1, and imports from nothing but
# the system, the C runtime and the framework, the framework by ordinal only.
# With FRAMEWORK=OFF (a build without framework registration) it must not
# import the framework at all.
if(NOT DEFINED FRAMEWORK)
  set(FRAMEWORK ON)
endif()
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump -p ${LIBRARY} failed: ${status}")
endif()
set(failures "")

# Exports: "[   0] +base[   1] ... Export RVA" rows, one per exported address,
# and "[   0] Name" rows, one per name.
string(REGEX MATCHALL "\\[ *[0-9]+\\] \\+base\\[ *[0-9]+\\]" addresses "${dump}")
list(LENGTH addresses address_count)
if(NOT address_count EQUAL 1)
  string(APPEND failures "expected 1 exported address, found ${address_count}: ${addresses}\n")
endif()
if(NOT dump MATCHES "\\[ *0\\] \\+base\\[ *1\\]")
  string(APPEND failures "the export is not ordinal 1\n")
endif()
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" names_at)
if(names_at LESS 0)
  string(APPEND failures "no export name table\n")
else()
  string(SUBSTRING "${dump}" ${names_at} -1 name_table)
  string(REGEX MATCH "Table\n(([\t ]+\\[[ 0-9]+\\] [^\n]*\n)*)" name_block "${name_table}")
  string(REGEX MATCHALL "\\[[ 0-9]+\\] [^\n]*" names "${CMAKE_MATCH_1}")
  if(NOT names MATCHES "^\\[ *0\\] Pelindra$")
    string(APPEND failures "expected the single export name Pelindra, found: ${names}\n")
  endif()
endif()

# Imports: the DLLs named, and how the framework's operations are bound.
string(REGEX MATCHALL "DLL Name: [^\n]+" imported "${dump}")
list(TRANSFORM imported REPLACE "DLL Name: " "")
list(TRANSFORM imported TOLOWER)
list(SORT imported)
if(FRAMEWORK)
  set(expected_imports "kernel32.dll;mfcce300.dll;msvcrt.dll")
else()
  set(expected_imports "kernel32.dll;msvcrt.dll")
endif()
if(NOT imported STREQUAL expected_imports)
  string(APPEND failures "unexpected imported DLLs: ${imported}\n")
endif()
if(FRAMEWORK)
  # Each framework row is "<thunk> <hint or ordinal> <name>"; an import by
  # ordinal has the thunk's top bit set, the ordinal in its low 16 bits, and the
  # name "<none>".
  string(FIND "${dump}" "DLL Name: mfcce300.dll\n" framework_at)
  set(by_ordinal "")
  set(framework_count 0)
  if(framework_at GREATER_EQUAL 0)
    string(SUBSTRING "${dump}" ${framework_at} -1 framework)
    string(FIND "${framework}" "\n\n" framework_end)
    string(SUBSTRING "${framework}" 0 ${framework_end} framework)
    string(REGEX MATCHALL "\n\t[0-9a-f]+\t[^\n]*" framework_rows "${framework}")
    list(LENGTH framework_rows framework_count)
    foreach(row IN LISTS framework_rows)
      if(row MATCHES "^\n\t8[0-9a-f]*([0-9a-f][0-9a-f][0-9a-f][0-9a-f])\t +[0-9a-f]+  <none>$")
        math(EXPR ordinal "0x${CMAKE_MATCH_1}")
        list(APPEND by_ordinal ${ordinal})
      endif()
    endforeach()
  endif()
  list(SORT by_ordinal COMPARE NATURAL)
  if(NOT by_ordinal STREQUAL "88;315;644;655;699" OR NOT framework_count EQUAL 5)
    string(APPEND failures
      "framework imports are not exactly ordinals 88, 315, 644, 655, 699 without names: "
      "${by_ordinal} (${framework_count} rows)\n")
  endif()
endif()

if(failures)
  message(FATAL_ERROR "${LIBRARY}:\n${failures}")
endif()
message(STATUS "${LIBRARY}: exports Pelindra @1 only; imports ${imported}; "
  "framework by ordinal ${by_ordinal}")
