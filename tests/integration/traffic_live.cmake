# The Traffic bar during a live capture of bursts on loopback, on a real display (Xvfb) inside a network
# namespace of the test's own. Root only (skipped with the reason otherwise); screenshots in screenshots/.
add_executable(traffic_live_tests traffic_live_test.cpp)
target_link_libraries(traffic_live_tests PRIVATE pacterra_app Qt6::Test)
target_compile_definitions(traffic_live_tests PRIVATE PACTERRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
add_test(NAME traffic_live_tests
         COMMAND sh -c "if command -v xvfb-run >/dev/null; then exec xvfb-run -a -s '-screen 0 1280x900x24' \"$0\"; \
else echo 'xvfb-run is not installed: running offscreen'; QT_QPA_PLATFORM=offscreen exec \"$0\"; fi"
                 $<TARGET_FILE:traffic_live_tests>)
set_tests_properties(traffic_live_tests PROPERTIES LABELS gui TIMEOUT 120 RUN_SERIAL TRUE ENVIRONMENT "TZ=UTC")
