# The Traffic bar in the real main window: its toggle and setting, the graph over a capture file, the
# connection's lines, zoom, pan, fit, hover and a click that selects a packet.
pacterra_gui_test(traffic_tests SOURCES traffic_test.cpp LIBS pacterra_app)
