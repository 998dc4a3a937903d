# The main window on the real engine: commands, states, bars, Show/Hide, the close guard, Open and Save.
pacterra_gui_test(mainframe_tests SOURCES mainframe_test.cpp LIBS pacterra_app)
