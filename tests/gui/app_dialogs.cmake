# The About box and the help and web commands.
pacterra_gui_test(app_dialogs_tests SOURCES app_dialogs_test.cpp LIBS pacterra_app)
