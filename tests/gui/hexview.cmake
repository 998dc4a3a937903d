pacterra_gui_test(hexview_tests SOURCES hexview_test.cpp LIBS pacterra_views)
