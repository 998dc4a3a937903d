# The decode text of the command-line tool against the tree widget.
pacterra_gui_test(decode_text_tests SOURCES decode_text_test.cpp LIBS pacterra_views)
