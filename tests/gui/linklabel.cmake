pacterra_gui_test(linklabel_tests SOURCES linklabel_test.cpp LIBS pacterra_ui)
target_compile_definitions(linklabel_tests PRIVATE PACTERRA_SHOTS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screenshots/furniture")
