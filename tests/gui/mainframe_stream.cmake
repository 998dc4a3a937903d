# The main window reading a capture from a named pipe, compared with pacterra-cli on the same file.
pacterra_gui_test(mainframe_stream_tests SOURCES mainframe_stream_test.cpp LIBS pacterra_app)
target_compile_definitions(mainframe_stream_tests PRIVATE PACTERRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
add_dependencies(mainframe_stream_tests pacterra-cli)
set_tests_properties(mainframe_stream_tests PROPERTIES LABELS "gui;tsan")
pacterra_label_targets(tsan mainframe_stream_tests)
# `pacterra -`: standard input read to its end by the program itself; an empty one is reported.
add_test(NAME pacterra_reads_stdin
         COMMAND sh -c "exec \"$0\" --bench-load - < '${PROJECT_SOURCE_DIR}/res/sample.cap'" $<TARGET_FILE:pacterra>)
set_tests_properties(pacterra_reads_stdin PROPERTIES LABELS gui TIMEOUT 60 PASS_REGULAR_EXPRESSION
                     "packets=167 connections=22" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
# Exit status 1 and the message naming standard input (a crash would fail too).
add_test(NAME pacterra_reports_empty_stdin
         COMMAND sh -c "out=$(\"$0\" --bench-load - < /dev/null 2>&1); rc=$?; echo \"$out\"; test $rc -eq 1 && \
echo \"$out\" | grep -q 'standard input: truncated dump file'" $<TARGET_FILE:pacterra>)
set_tests_properties(pacterra_reports_empty_stdin PROPERTIES LABELS gui TIMEOUT 60
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
