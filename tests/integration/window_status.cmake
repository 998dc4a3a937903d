# The status bar and the tray during a live capture on loopback that a full buffer ends (root only, in a
# network namespace of its own), and a close from the window manager during a long load: on a real display
# (Xvfb), whose close requests the test sends itself (hence xcb). Screenshots in screenshots/.
pkg_check_modules(XCB IMPORTED_TARGET xcb)
if(XCB_FOUND)
  add_executable(window_status_tests window_status_test.cpp)
  target_link_libraries(window_status_tests PRIVATE pacterra_app Qt6::Test PkgConfig::XCB)
  target_compile_definitions(window_status_tests PRIVATE PACTERRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME window_status_tests
           COMMAND sh -c "if command -v xvfb-run >/dev/null; then exec xvfb-run -a -s '-screen 0 1280x900x24' \"$0\"; \
else echo 'xvfb-run is not installed: skipped'; exit 0; fi" $<TARGET_FILE:window_status_tests>)
  set_tests_properties(window_status_tests PROPERTIES LABELS "gui;tsan" TIMEOUT 180 RUN_SERIAL TRUE
                       ENVIRONMENT "TZ=UTC;QT_QPA_PLATFORM=xcb")
endif()
