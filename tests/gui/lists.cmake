# The connections list and the packets list, against the command-line tool on the sample capture.
pacterra_gui_test(lists_tests SOURCES lists_test.cpp ListsTestSupport.h LIBS pacterra_app)
target_compile_definitions(lists_tests PRIVATE PACTERRA_CLI="$<TARGET_FILE:pacterra-cli>")
add_dependencies(lists_tests pacterra-cli)
# Live growth from another thread; the ThreadSanitizer build runs it too (label tsan).
pacterra_gui_test(lists_live_tests SOURCES lists_live_test.cpp ListsTestSupport.h ../unit/config_alloc_probe.cpp
  LIBS pacterra_app)
set_tests_properties(lists_live_tests PROPERTIES LABELS "gui;tsan")
pacterra_label_targets(tsan lists_live_tests)
