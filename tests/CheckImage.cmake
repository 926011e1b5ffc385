# Checks a built DLL the way Windows will load it in a user's host:
#  - it imports system DLLs only (the runtime is linked statically);
#  - it is not marked IMAGE_DLLCHARACTERISTICS_NO_SEH (0x0400): the guard around calls into
#    children registers a structured-exception handler in this image, which Windows would refuse
#    to call in an image so marked.
# cmake -DOBJDUMP=... -DIMAGE=... -P CheckImage.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${IMAGE} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump could not read ${IMAGE}")
endif()

set(system_dlls kernel32 user32 gdi32 advapi32 msvcrt comctl32 comdlg32 ole32 oleaut32 shell32
    shlwapi mscms windowscodecs ntdll version)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
foreach(line IN LISTS imports)
  string(REGEX REPLACE "DLL Name: ([^.]+)\\.[dD][lL][lL].*" "\\1" name "${line}")
  string(TOLOWER "${name}" name)
  if(NOT name IN_LIST system_dlls)
    message(FATAL_ERROR "${IMAGE} imports ${line}, which is not a system DLL")
  endif()
endforeach()

string(REGEX MATCH "DllCharacteristics[ \t]+([0-9a-fA-F]+)" found "${headers}")
if(NOT found)
  message(FATAL_ERROR "no DllCharacteristics in the headers of ${IMAGE}")
endif()
math(EXPR no_seh "0x${CMAKE_MATCH_1} & 0x400")
if(NOT no_seh EQUAL 0)
  message(FATAL_ERROR "${IMAGE} is marked NO_SEH: its exception handlers would never be called")
endif()
