# Checks that the plug-in exports exactly the fourteen entry points by plain
# name and nothing else. Run as: cmake -DLIB=<path to libstrevon.so> -P check_exports.cmake
execute_process(COMMAND nm -D --defined-only ${LIB}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^ \n]+\n" lines "${symbols}")
set(found "")
foreach(line ${lines})
  string(STRIP "${line}" name)
  list(APPEND found ${name})
endforeach()
list(SORT found)
set(expected CreateCapabilityQueryModule CreateIPCapture CreateIPCaptureEx CreateIPCaptureEx2
    CreateIPCaptureEx3 DeleteCapabilityQueryModule DeleteIPCapture DeleteIPCaptureEx
    DeleteIPCaptureEx2 DeleteIPCaptureEx3 InitCapabilityQuery StartCapabilityQuery
    TerminateCapabilityQuery UninitCapabilityQuery)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ:\n  found:    ${found}\n  expected: ${expected}")
endif()
message(STATUS "exports: ${found}")
