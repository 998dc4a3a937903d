# The window and the signals that end it, and the end of the desktop session.
pacterra_gui_test(signal_close_tests SOURCES signal_close_test.cpp LIBS pacterra_app)
