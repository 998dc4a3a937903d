# The main window on the real engine: commands, states, bars, Show/Hide, the close guard, Open and Save.
pacterra_gui_test(mainframe_tests SOURCES mainframe_test.cpp LIBS pacterra_app)
# Messages from the capture thread and the close guard's join are worth ThreadSanitizer's eye too.
set_tests_properties(mainframe_tests PROPERTIES LABELS "gui;tsan")
pacterra_label_targets(tsan mainframe_tests)
# The program itself: its options, and a capture file named on the command line opened at start-up.
add_test(NAME pacterra_version COMMAND pacterra --version)
set_tests_properties(pacterra_version PROPERTIES LABELS gui PASS_REGULAR_EXPRESSION "^pacterra 1\\.4\n$")
add_test(NAME pacterra_opens_file COMMAND pacterra --bench-load ${PROJECT_SOURCE_DIR}/res/sample.cap)
set_tests_properties(pacterra_opens_file PROPERTIES LABELS gui TIMEOUT 60 PASS_REGULAR_EXPRESSION
                     "packets=167 connections=22" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
