# `cpack -G DEB` from a build tree (scripts/package.sh makes a release build and runs it): one package,
# pacterra, with its Depends computed from the shared libraries the programs link. Its post-installation
# script gives the capture rights to pacterra-capture alone (root:pacterra, 0750) and creates the system
# group pacterra; its post-removal script removes the group when nobody belongs to it.
set(CPACK_PACKAGE_NAME pacterra)
set(CPACK_PACKAGE_VENDOR Morvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Pacterra developers <support@pacterra.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "packet sniffer that shows captured traffic by connection")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_INSTALL_DIRECTORY pacterra)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://pacterra.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# setcap (libcap2-bin) and groupadd (passwd) for the post-installation script.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, passwd")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tcpdump")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/deb/postinst;${CMAKE_CURRENT_LIST_DIR}/deb/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack puts the summary above this as the first line; it strips the last line, so no command ends it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Pacterra captures the IPv4 TCP and UDP frames of one network adapter that
its ordered filter rules accept, keeps them in a bounded memory store and
groups them into connections. The window shows the connections live, the
packets of one connection, and a decode tree, a hex view and the payload
text of one packet. Capture files in the libpcap format are saved and
opened. pacterra-cli prints the same lists without a display.

Capturing needs raw-socket rights, which only the small capture helper
pacterra-capture holds: the post-installation script runs
  setcap cap_net_raw,cap_net_admin=eip /usr/bin/pacterra-capture
on it alone and lets only the members of the system group pacterra run
it. The window and pacterra-cli get no rights: they capture through the
helper. To capture as yourself, add yourself to the group, then log in
again:
  sudo usermod -aG pacterra $USER
Removing the package removes the group when nobody belongs to it.")

# A source package (cpack --config CPackSourceConfig.cmake) holds the sources only.
set(CPACK_SOURCE_IGNORE_FILES "/\\.git(/|$)" "/build[^/]*(/|$)")

include(CPack)
