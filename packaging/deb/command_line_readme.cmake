# Takes the "Command line" section of the project's README (up to the next
# section of the same level) as the package's documentation. Run as
#   cmake -DREADME=... -DOUT=... -P command_line_readme.cmake
file(READ ${README} text)
string(FIND "${text}" "\n## Command line\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${README} has no \"## Command line\" section")
endif()
math(EXPR start "${start} + 1")
string(SUBSTRING "${text}" ${start} -1 text)
string(SUBSTRING "${text}" 3 -1 rest)
string(FIND "${rest}" "\n## " end)
if(NOT end EQUAL -1)
  math(EXPR end "${end} + 4")
  string(SUBSTRING "${text}" 0 ${end} text)
endif()
file(WRITE ${OUT} "# meterload-cli\n\nFrom the README of MeterLoad.\n\n${text}")
