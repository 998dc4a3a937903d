# The window run by an unprivileged user in the helper's group, on a real display (Xvfb): it captures an
# HTTP exchange on a veth pair through a copy of pacterra-capture that alone holds the rights, stops, saves
# and reads back. Root only (it sets the scene up, then gives its own rights away); screenshots in
# screenshots/.
add_executable(window_helper_tests window_helper_test.cpp)
target_link_libraries(window_helper_tests PRIVATE pacterra_app Qt6::Test)
target_compile_definitions(window_helper_tests PRIVATE PACTERRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
add_dependencies(window_helper_tests pacterra-cli pacterra-capture)
add_test(NAME window_helper_tests
         COMMAND sh -c "if command -v xvfb-run >/dev/null; then exec xvfb-run -a -s '-screen 0 1280x900x24' \"$0\"; \
else echo 'xvfb-run is not installed: running offscreen'; QT_QPA_PLATFORM=offscreen exec \"$0\"; fi"
                 $<TARGET_FILE:window_helper_tests>)
set_tests_properties(window_helper_tests PROPERTIES LABELS "gui" TIMEOUT 120 RUN_SERIAL TRUE ENVIRONMENT "TZ=UTC")
