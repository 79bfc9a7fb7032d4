# Checks a Windows program or DLL of ours as a user's machine will see it:
# the PE format of the build's architecture, and no DLL imported beyond those
# that every Windows installation has (the runtime is linked in statically).
# Usage: cmake -DOBJDUMP=... -DFILE=... -DARCH=x86|x64 -P check_pe.cmake
cmake_minimum_required(VERSION 3.25)

if(ARCH STREQUAL "x86")
  set(format "pei-i386")
  set(magic "010b")
elseif(ARCH STREQUAL "x64")
  set(format "pei-x86-64")
  set(magic "020b")
else()
  message(FATAL_ERROR "ARCH must be x86 or x64, not '${ARCH}'")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump ERROR_VARIABLE error RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} cannot read ${FILE}: ${error}")
endif()
if(NOT dump MATCHES "file format ${format}\n")
  string(REGEX MATCH "file format [^\n]*" found "${dump}")
  message(FATAL_ERROR "${FILE}: expected file format ${format}, found '${found}'")
endif()
if(NOT dump MATCHES "Magic[\t ]+${magic}")
  string(REGEX MATCH "Magic[^\n]*" found "${dump}")
  message(FATAL_ERROR "${FILE}: expected optional header magic ${magic}, found '${found}'")
endif()

set(system_dlls
  kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll advapi32.dll
  shell32.dll ole32.dll winmm.dll bcrypt.dll msvcrt.dll)
string(REGEX MATCHALL "DLL Name: [^\n]*" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "${FILE} imports nothing; objdump's output was not understood")
endif()
foreach(import IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: *" "" name "${import}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" lower)
  if(NOT lower IN_LIST system_dlls)
    message(FATAL_ERROR "${FILE} imports ${name}, which is not part of Windows")
  endif()
endforeach()
message(STATUS "${FILE}: ${format}, imports only system DLLs")
