# Settings files that are pipes, devices or far too large, met by every part that opens the settings.
pacterra_gui_test(settings_store_tests SOURCES settings_store_test.cpp LIBS pacterra_ui)
