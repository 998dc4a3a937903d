pacterra_gui_test(tree_tests SOURCES tree_test.cpp LIBS pacterra_views)
