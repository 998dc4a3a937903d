# The configuration dialogs.
pacterra_gui_test(rule_dialogs_tests SOURCES rule_dialogs_test.cpp LIBS pacterra_config_dialogs)
pacterra_gui_test(config_save_tests SOURCES config_save_test.cpp LIBS pacterra_config_dialogs)
# Its own directory: the test writes Config.cfg beside its executable.
set_target_properties(config_save_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/config-save-bin)
pacterra_gui_test(adapter_dialog_tests SOURCES adapter_dialog_test.cpp LIBS pacterra_config_dialogs)
