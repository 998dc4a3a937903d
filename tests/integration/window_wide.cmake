# The wider intake in the window on a real display (Xvfb): an IPv6 HTTP exchange over a veth pair between
# the test's network namespace and a peer namespace, captured live. Root only; screenshots in screenshots/.
add_executable(window_wide_tests window_wide_test.cpp)
target_link_libraries(window_wide_tests PRIVATE pacterra_app Qt6::Test)
target_compile_definitions(window_wide_tests PRIVATE PACTERRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
add_test(NAME window_wide_tests
         COMMAND sh -c "if command -v xvfb-run >/dev/null; then exec xvfb-run -a -s '-screen 0 1280x900x24' \"$0\"; \
else echo 'xvfb-run is not installed: running offscreen'; QT_QPA_PLATFORM=offscreen exec \"$0\"; fi"
                 $<TARGET_FILE:window_wide_tests>)
set_tests_properties(window_wide_tests PROPERTIES LABELS "gui" TIMEOUT 120 RUN_SERIAL TRUE ENVIRONMENT "TZ=UTC")
