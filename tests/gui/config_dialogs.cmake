# The configuration dialogs.
pacterra_gui_test(rule_dialogs_tests SOURCES rule_dialogs_test.cpp LIBS pacterra_config_dialogs)
