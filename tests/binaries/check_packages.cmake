# Checks what a Windows user downloads for one build: an installer and a zip
# whose names say the architecture, the zip holding one folder with exactly
# the programs and the readme (never a DLL: the simulated VISA library must
# not reach users), and an installer that is a Windows program.
# Usage: cmake -DINSTALLER=... -DZIP=... -DARCH=x86|x64 -DWORK=<folder> -P check_packages.cmake
cmake_minimum_required(VERSION 3.25)
foreach(file IN ITEMS ${INSTALLER} ${ZIP})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${file} was not made")
  endif()
  get_filename_component(name ${file} NAME)
  if(NOT name MATCHES "-${ARCH}[-.]")
    message(FATAL_ERROR "${name} does not name the architecture ${ARCH}")
  endif()
endforeach()

file(READ ${INSTALLER} head LIMIT 2 HEX)
if(NOT head STREQUAL "4d5a")
  message(FATAL_ERROR "${INSTALLER} is not a Windows program")
endif()

get_filename_component(folder ${ZIP} NAME_WLE)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(ARCHIVE_EXTRACT INPUT ${ZIP} DESTINATION ${WORK})
file(GLOB_RECURSE unpacked RELATIVE ${WORK} ${WORK}/*)
list(SORT unpacked)
set(expected ${folder}/README.txt ${folder}/meterload-cli.exe ${folder}/meterload.exe)
list(SORT expected)
if(NOT unpacked STREQUAL expected)
  message(FATAL_ERROR "${ZIP} holds '${unpacked}', expected '${expected}'")
endif()
message(STATUS "${INSTALLER} and ${ZIP}: ${unpacked}")
