# The payload text control, its highlighting scans and the main view that feeds it.
pacterra_gui_test(payload_tests SOURCES payload_test.cpp LIBS pacterra_app)
