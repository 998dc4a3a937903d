# The docking bars holding the lists: sizes, title bars, settings.
pacterra_gui_test(bars_tests SOURCES bars_test.cpp LIBS pacterra_ui)
