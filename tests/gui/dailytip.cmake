pacterra_gui_test(dailytip_tests SOURCES dailytip_test.cpp LIBS pacterra_ui)
add_dependencies(dailytip_tests pacterra-data-files)
target_compile_definitions(dailytip_tests PRIVATE PACTERRA_SHOTS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screenshots/furniture")
