# The filter line over the connections list and the export commands, in the main window.
pacterra_gui_test(connection_filter_tests SOURCES connection_filter_test.cpp LIBS pacterra_app)
