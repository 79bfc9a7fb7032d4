# The Debian package of the command line, built by `cpack` in the build tree
# or the `package` target: meterload-cli, the USB VISA library it loads, the
# udev rule that gives the seated user the meter, the manual page and the
# command line's documentation. Linux only; Windows has an installer of its own.

set(METERLOAD_DEB_NAME meterload-cli)
set(METERLOAD_DEB_MAINTAINER "MeterLoad developers <meterload@example.org>" CACHE STRING
  "Maintainer field of the Debian package")

# Every file the package holds, relative to its root, and nothing else: the
# package's checks compare the built package against this list. The USB VISA
# library is there once its target is part of the build.
set(METERLOAD_DEB_FILES
  usr/bin/meterload-cli
  usr/lib/udev/rules.d/70-zq6140.rules
  usr/share/doc/${METERLOAD_DEB_NAME}/README.md
  usr/share/doc/${METERLOAD_DEB_NAME}/changelog.gz
  usr/share/doc/${METERLOAD_DEB_NAME}/copyright
  usr/share/man/man1/meterload-cli.1.gz)
if(TARGET meterload_usbtmc)
  list(APPEND METERLOAD_DEB_FILES usr/lib/meterload/libmeterload-usbtmc.so)
endif()
list(SORT METERLOAD_DEB_FILES)

execute_process(COMMAND dpkg --print-architecture
  OUTPUT_VARIABLE METERLOAD_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE arch_result)
if(NOT arch_result EQUAL 0 OR METERLOAD_DEB_ARCH STREQUAL "")
  message(STATUS "Debian package: dpkg not found, no package target")
  return()
endif()
set(METERLOAD_DEB_FILE ${METERLOAD_DEB_NAME}_${PROJECT_VERSION}_${METERLOAD_DEB_ARCH}.deb)

# The packaged programs as Debian builds its own: fortified string and memory
# functions (only where the optimiser runs, which they need) and a read-only
# global offset table.
foreach(target meterload-cli meterload_usbtmc)
  if(TARGET ${target})
    target_compile_definitions(${target} PRIVATE
      $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
    target_link_options(${target} PRIVATE LINKER:-z,relro LINKER:-z,now)
  endif()
endforeach()

# The manual page, documentation, changelog, copyright and udev rule.
add_subdirectory(${PROJECT_SOURCE_DIR}/packaging/deb ${CMAKE_BINARY_DIR}/packaging/deb)

set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME ${METERLOAD_DEB_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Korvalen Corp.")
set(CPACK_PACKAGE_CONTACT ${METERLOAD_DEB_MAINTAINER})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for ZQ6140 multimeters over USB")
set(CPACK_PACKAGE_DESCRIPTION
  "meterload-cli writes new firmware into ZQ6140 digital multimeters attached
over USB, one at a time or every meter on a hub at once. It checks each image
or package before any instrument is touched, streams it at the pace the
instrument needs and reports what happened in plain text or JSON, with exit
codes a script can act on; every update is recorded in a history.
It talks to the meters through a VISA library; the package brings its own
USB one, and a udev rule that gives the user at the PC access to the meter.")
set(CPACK_DEBIAN_PACKAGE_NAME ${METERLOAD_DEB_NAME})
set(CPACK_DEBIAN_FILE_NAME ${METERLOAD_DEB_FILE})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${METERLOAD_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Our own scripts, which apply the udev rule to meters already attached; they
# also keep CPack from adding ldconfig calls for the USB library, which is
# private to the program and not in the linker's search path.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/deb/postinst ${PROJECT_SOURCE_DIR}/packaging/deb/postrm)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
