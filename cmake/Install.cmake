# What `cmake --install` and the Debian package put on a system: the two
# programs, their manual pages, the copyright file and the JSON Schema of
# vestrel-trace's --json lines. The capture generator is a development tool
# and stays in the build tree.
include(GNUInstallDirs)

install(TARGETS vestrel vestrel-trace RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages are installed gzipped, as Debian ships them; -n keeps the
# name and time out of the archive so builds are reproducible.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(VESTREL_MAN_PAGES vestrel.1 vestrel-trace.1)
set(compressed_pages "")
foreach(page IN LISTS VESTREL_MAN_PAGES)
  set(source ${PROJECT_SOURCE_DIR}/man/${page})
  set(compressed ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(
    OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${source} > ${compressed}
    DEPENDS ${source}
    COMMENT "Compressing manual page ${page}"
    VERBATIM)
  list(APPEND compressed_pages ${compressed})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${compressed_pages})
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The licence in the machine-readable form Debian asks of a package's
# copyright file: the text after LICENSE's copyright line, each line indented
# by one blank, an empty line written as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
string(REGEX REPLACE "^.*Copyright [^\n]*\n" "" license_text "${license_text}")
string(STRIP "${license_text}" license_text)
string(REPLACE "\n" "\n " license_text " ${license_text}")
string(REPLACE "\n \n" "\n .\n" VESTREL_LICENSE_TEXT "${license_text}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# vestrel-trace's bash completion, made from the built program's --help
# and the decoder tables' words.
set(completion ${PROJECT_BINARY_DIR}/completion/vestrel-trace)
add_custom_command(
  OUTPUT ${completion}
  COMMAND ${CMAKE_COMMAND} -DTRACE=$<TARGET_FILE:vestrel-trace> -DFIELDS=$<TARGET_FILE:vestrel-fields>
          -DTEMPLATE=${PROJECT_SOURCE_DIR}/completion/vestrel-trace.in -DOUTPUT=${completion}
          -P ${CMAKE_CURRENT_LIST_DIR}/Completion.cmake
  DEPENDS vestrel-trace vestrel-fields ${PROJECT_SOURCE_DIR}/completion/vestrel-trace.in
          ${CMAKE_CURRENT_LIST_DIR}/Completion.cmake
  COMMENT "Making the bash completion of vestrel-trace"
  VERBATIM)
add_custom_target(completion ALL DEPENDS ${completion})
install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The JSON Schema of a line of `vestrel-trace --json`, for those who check
# or read its output with their own tools.
install(FILES ${PROJECT_SOURCE_DIR}/schema/vestrel-trace.schema.json DESTINATION ${CMAKE_INSTALL_DOCDIR})

# `make package` (cpack -G DEB): a Debian package of the installed files,
# its library dependencies found by dpkg-shlibdeps.
include(${CMAKE_CURRENT_LIST_DIR}/Maintainer.cmake)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VESTREL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VESTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console monitor for BNCS chat traffic on TCP port 6112")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Vestrel captures the TCP traffic of a network device and prints every\n"
       "message of the BNCS chat protocol (port 6112) with its fields the moment\n"
       "it is seen, and can log every message as a hex dump. vestrel-trace follows\n"
       "every connection on its own, live or from pcap and pcapng capture files,\n"
       "with a command line in tcpdump's manner. For people who build and\n"
       "debug clients, bots and servers for the protocol.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
