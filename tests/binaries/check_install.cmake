# Installs a Windows build into an empty folder and checks that it is what
# users get: the program and its readme, and no DLL (the simulated VISA
# library must never reach them).
# Usage: cmake -DBUILD=<build dir> -DOUT=<folder> -P check_install.cmake
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${OUT}
  OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()
foreach(required meterload.exe meterload-cli.exe README.txt)
  if(NOT EXISTS ${OUT}/${required})
    message(FATAL_ERROR "the installed folder lacks ${required}")
  endif()
endforeach()
file(GLOB_RECURSE dlls RELATIVE ${OUT} ${OUT}/*.dll ${OUT}/*.DLL)
if(dlls)
  message(FATAL_ERROR "the installed folder holds DLLs: ${dlls}")
endif()
file(GLOB_RECURSE installed RELATIVE ${OUT} ${OUT}/*)
message(STATUS "installed: ${installed}")
