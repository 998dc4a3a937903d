# The windows' titles as the X server holds them, on a real display: under xvfb-run, which CI installs
# (scripts/install-deps.sh); skipped where it is missing. Pictures of the screen in screenshots/titles/.
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
add_executable(window_titles_tests window_titles_test.cpp)
target_link_libraries(window_titles_tests PRIVATE pacterra_app PkgConfig::XCB Qt6::Test)
target_compile_definitions(window_titles_tests PRIVATE PACTERRA_SHOTS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screenshots/titles")
add_test(NAME window_titles_tests
         COMMAND sh -c "if command -v xvfb-run >/dev/null; then exec xvfb-run -a -s '-screen 0 1280x1024x24' \"$0\"; \
else echo 'xvfb-run is not installed: skipped'; exit 77; fi"
                 $<TARGET_FILE:window_titles_tests>)
set_tests_properties(window_titles_tests PROPERTIES LABELS gui TIMEOUT 120 SKIP_RETURN_CODE 77
                     ENVIRONMENT "QT_QPA_PLATFORM=xcb;TZ=UTC")
