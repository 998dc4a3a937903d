# The fixed colours (list rows, highlight, link label, payload page) under a dark desktop palette.
pacterra_gui_test(dark_palette_tests SOURCES dark_palette_test.cpp ListsTestSupport.h LIBS pacterra_app)
