# Checks strevon.dll as a host's loader sees it: exactly the fourteen entry
# points, exported by plain name, and imports from system DLLs only (no
# mingw runtime DLL may be needed beside it).
# Run as: cmake -DDLL=<strevon.dll> -DOBJDUMP=<objdump> -P check_dll.cmake
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${DLL}")
endif()

# Exports: the names listed under the name pointer table.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[ *[0-9]+\\] [^\n]+\n)*)" table "${dump}")
# CMake lists do not split inside square brackets: drop the "[  n] " first.
string(REGEX REPLACE "[ \t]+\\[ *[0-9]+\\] " "" names "${CMAKE_MATCH_1}")
string(REGEX MATCHALL "[^\n]+" exports "${names}")
list(SORT exports)
set(expected CreateCapabilityQueryModule CreateIPCapture CreateIPCaptureEx CreateIPCaptureEx2
    CreateIPCaptureEx3 DeleteCapabilityQueryModule DeleteIPCapture DeleteIPCaptureEx
    DeleteIPCaptureEx2 DeleteIPCaptureEx3 InitCapabilityQuery StartCapabilityQuery
    TerminateCapabilityQuery UninitCapabilityQuery)
if(NOT exports STREQUAL expected)
  message(FATAL_ERROR "strevon.dll exports differ:\n  found:    ${exports}\n  expected: ${expected}")
endif()

# Imports: every DLL named must be a part of Windows itself.
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
set(allowed advapi32.dll bcrypt.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll
    version.dll ws2_32.dll)
set(imports "")
foreach(entry ${names})
  string(REGEX REPLACE "^DLL Name: " "" name "${entry}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" name)
  list(APPEND imports "${name}")
  list(FIND allowed "${name}" index)
  if(index EQUAL -1)
    message(FATAL_ERROR "strevon.dll imports ${name}, which is not a system DLL "
                        "(allowed: ${allowed})")
  endif()
endforeach()
list(SORT imports)
message(STATUS "strevon.dll exports: ${exports}")
message(STATUS "strevon.dll imports: ${imports}")
