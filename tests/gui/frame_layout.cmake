# The main window's shortcuts from every view, its column and pane widths, the bars' close glyphs and the
# layout it keeps from one run to the next.
pacterra_gui_test(frame_layout_tests SOURCES frame_layout_test.cpp LIBS pacterra_app)
