# `cmake --install`: the programs, their data files, the desktop integration and the manual pages, in the
# layout of GNUInstallDirs. Included last, once every target exists. The desktop entry, the metainfo, the
# icon and the window's manual page go with the window, so that a build without it installs no launcher for
# a program that is not there.
include(GNUInstallDirs)

set(PACTERRA_METAINFO_ID example.pacterra.Pacterra)
set(_res ${PROJECT_SOURCE_DIR}/res)
set(_datadir ${CMAKE_INSTALL_DATADIR}/pacterra)

install(TARGETS pacterra-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The capture helper, the only program that may hold the capture rights: runnable by its owner and its group
# (the package makes that group pacterra and sets the capabilities; a plain install says how).
install(TARGETS pacterra-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
install(CODE "
  if(NOT CPACK_TOPLEVEL_DIRECTORY)
    message(STATUS \"To capture without root, give the capture helper (and nothing else) the rights, and its group to the users who may capture:
      sudo groupadd --system pacterra
      sudo chgrp pacterra \${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/pacterra-capture
      sudo setcap cap_net_raw,cap_net_admin=eip \${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/pacterra-capture
      sudo usermod -aG pacterra USER   (then log in again)\")
  endif()")
install(FILES ${_res}/sample.cap DESTINATION ${_datadir})
# The tips and the help are looked up beside the executable, then here. They are installed when they are
# there; the glob makes the build configure again when files come or go in res/.
file(GLOB _res_listing CONFIGURE_DEPENDS ${_res}/*)
set(_data_files)
if(EXISTS ${_res}/tips.txt)
  install(FILES ${_res}/tips.txt DESTINATION ${_datadir})
  list(APPEND _data_files ${_datadir}/tips.txt)
endif()
if(IS_DIRECTORY ${_res}/help)
  install(DIRECTORY ${_res}/help DESTINATION ${_datadir})
  file(GLOB_RECURSE _help_files CONFIGURE_DEPENDS RELATIVE ${_res} ${_res}/help/*)
  list(TRANSFORM _help_files PREPEND ${_datadir}/)
  list(APPEND _data_files ${_help_files})
endif()

# Manual pages carry the project's version and are installed compressed, as Debian expects.
find_program(PACTERRA_GZIP gzip REQUIRED)
set(_manpages pacterra-cli)
if(TARGET pacterra)
  list(APPEND _manpages pacterra)
endif()
set(_man_outputs)
foreach(_page IN LISTS _manpages)
  configure_file(${_res}/man/${_page}.1.in ${PROJECT_BINARY_DIR}/man/${_page}.1 @ONLY)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/man/${_page}.1.gz
    COMMAND ${PACTERRA_GZIP} -9 -n -f -k ${PROJECT_BINARY_DIR}/man/${_page}.1
    DEPENDS ${PROJECT_BINARY_DIR}/man/${_page}.1
    VERBATIM)
  list(APPEND _man_outputs ${PROJECT_BINARY_DIR}/man/${_page}.1.gz)
endforeach()
add_custom_target(manpages ALL DEPENDS ${_man_outputs})
install(FILES ${_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(PACTERRA_ICON_SIZES 16 22 24 32 48 64 128 256)
set(PACTERRA_INSTALLED_FILES
  ${CMAKE_INSTALL_BINDIR}/pacterra-cli
  ${CMAKE_INSTALL_BINDIR}/pacterra-capture
  ${_datadir}/sample.cap
  ${CMAKE_INSTALL_MANDIR}/man1/pacterra-cli.1.gz)
if(TARGET pacterra)
  install(TARGETS pacterra RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${_res}/pacterra.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_res}/${PACTERRA_METAINFO_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${_res}/icons/pacterra.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  list(APPEND PACTERRA_INSTALLED_FILES
    ${CMAKE_INSTALL_BINDIR}/pacterra
    ${CMAKE_INSTALL_DATADIR}/applications/pacterra.desktop
    ${CMAKE_INSTALL_DATADIR}/metainfo/${PACTERRA_METAINFO_ID}.metainfo.xml
    ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps/pacterra.svg
    ${CMAKE_INSTALL_MANDIR}/man1/pacterra.1.gz)
  foreach(_size IN LISTS PACTERRA_ICON_SIZES)
    set(_icondir icons/hicolor/${_size}x${_size}/apps)
    install(FILES ${_res}/icons/hicolor/${_size}x${_size}/apps/pacterra.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/${_icondir})
    list(APPEND PACTERRA_INSTALLED_FILES ${CMAKE_INSTALL_DATADIR}/${_icondir}/pacterra.png)
  endforeach()
endif()
list(APPEND PACTERRA_INSTALLED_FILES ${_data_files})

include(${CMAKE_CURRENT_LIST_DIR}/Package.cmake)

# The validators, a staged install and the package: each checks what a user's system would receive (a
# sanitizer build is no build to ship).
if(PACTERRA_BUILD_TESTS AND NOT PACTERRA_SANITIZE)
  add_test(NAME install_files
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install/install_test.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}
            ${PACTERRA_METAINFO_ID} ${PACTERRA_INSTALLED_FILES})
  set_tests_properties(install_files PROPERTIES LABELS install TIMEOUT 300)
  add_test(NAME install_package
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install/package_test.sh ${PROJECT_BINARY_DIR}
            ${PACTERRA_INSTALLED_FILES})
  set_tests_properties(install_package PROPERTIES LABELS install TIMEOUT 600)
endif()
