# The filter line during a live capture on a real display (Xvfb), in a network namespace: typing "port:80"
# keeps only the web connections as they arrive. Root only; the screenshot goes to screenshots/.
add_executable(window_filter_e2e_tests window_filter_e2e_test.cpp)
target_link_libraries(window_filter_e2e_tests PRIVATE pacterra_app Qt6::Test)
target_compile_definitions(window_filter_e2e_tests PRIVATE PACTERRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
add_test(NAME window_filter_e2e_tests
         COMMAND sh -c "if command -v xvfb-run >/dev/null; then exec xvfb-run -a -s '-screen 0 1280x900x24' \"$0\"; \
else echo 'xvfb-run is not installed: running offscreen'; QT_QPA_PLATFORM=offscreen exec \"$0\"; fi"
                 $<TARGET_FILE:window_filter_e2e_tests>)
set_tests_properties(window_filter_e2e_tests PROPERTIES LABELS "gui;tsan" TIMEOUT 120 RUN_SERIAL TRUE
                     ENVIRONMENT "TZ=UTC")
