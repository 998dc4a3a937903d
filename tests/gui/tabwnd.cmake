pacterra_gui_test(tabwnd_tests SOURCES tabwnd_test.cpp LIBS pacterra_ui)
