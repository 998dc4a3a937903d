# The status bar and the tray during a live capture on loopback that a full buffer ends (root only, in a
# network namespace of its own), and a close from the window manager during a long load: on a real display
# (Xvfb), whose close requests the test sends itself (hence xcb). Screenshots in screenshots/.
pkg_check_modules(XCB IMPORTED_TARGET xcb)
if(XCB_FOUND)
  pacterra_window_suite(window_status_tests SOURCES window_status_test.cpp LABELS gui tsan TIMEOUT 180
                        DISPLAY xvfb-only LIBS PkgConfig::XCB ENVIRONMENT QT_QPA_PLATFORM=xcb)
endif()
