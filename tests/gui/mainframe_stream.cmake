# The main window reading a capture from a named pipe, compared with pacterra-cli on the same file.
pacterra_gui_test(mainframe_stream_tests SOURCES mainframe_stream_test.cpp LIBS pacterra_app)
target_compile_definitions(mainframe_stream_tests PRIVATE PACTERRA_BINARY_DIR="${PROJECT_BINARY_DIR}")
add_dependencies(mainframe_stream_tests pacterra-cli)
set_tests_properties(mainframe_stream_tests PROPERTIES LABELS "gui;tsan")
# `pacterra -`: standard input read to its end by the program itself; an empty one is reported.
add_test(NAME pacterra_reads_stdin
         COMMAND sh -c "exec \"$0\" --bench-load - < '${PROJECT_SOURCE_DIR}/res/sample.cap'" $<TARGET_FILE:pacterra>)
set_tests_properties(pacterra_reads_stdin PROPERTIES LABELS gui TIMEOUT 60 PASS_REGULAR_EXPRESSION
                     "packets=167 connections=22" ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
add_test(NAME pacterra_reports_empty_stdin COMMAND sh -c "exec \"$0\" --bench-load - < /dev/null"
                                                   $<TARGET_FILE:pacterra>)
set_tests_properties(pacterra_reports_empty_stdin PROPERTIES LABELS gui TIMEOUT 60 WILL_FAIL TRUE
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
