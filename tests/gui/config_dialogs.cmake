# The configuration dialogs.
pacterra_gui_test(rule_dialogs_tests SOURCES rule_dialogs_test.cpp LIBS pacterra_dialogs)
pacterra_gui_test(config_save_tests SOURCES config_save_test.cpp LIBS pacterra_dialogs)
# Its own directory: the test writes Config.cfg beside its executable.
set_target_properties(config_save_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/config-save-bin)
pacterra_gui_test(adapter_dialog_tests SOURCES adapter_dialog_test.cpp LIBS pacterra_dialogs)

# Pictures of the three dialogs, kept in the build tree (tests/gui/screenshots/config-*) to be looked at;
# under Xvfb when it is there, else the offscreen platform.
add_executable(config_dialog_shots config_dialog_shots.cpp)
target_link_libraries(config_dialog_shots PRIVATE pacterra_dialogs Qt6::Test)
set(config_shots ${CMAKE_CURRENT_BINARY_DIR}/screenshots/config)
add_test(NAME config_dialog_screenshots
         COMMAND sh -c "mkdir -p '${config_shots}' && rm -f '${config_shots}'/*.png && \
if command -v xvfb-run >/dev/null; then run='xvfb-run -a'; else run='env QT_QPA_PLATFORM=offscreen'; fi && \
$run \"$0\" '${config_shots}' && test -s '${config_shots}/adapter.png' && \
test -s '${config_shots}/config.png' && test -s '${config_shots}/rule.png' && \
test -s '${config_shots}/rule-address.png'"
                 $<TARGET_FILE:config_dialog_shots>)
set_tests_properties(config_dialog_screenshots PROPERTIES LABELS gui TIMEOUT 120)
