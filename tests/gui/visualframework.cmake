# The view framework building the main window's view area with the real views.
pacterra_gui_test(visualframework_tests SOURCES visualframework_test.cpp LIBS pacterra_ui pacterra_app)
target_compile_definitions(visualframework_tests PRIVATE
                           PACTERRA_SHOTS_DIR="${CMAKE_CURRENT_BINARY_DIR}/screenshots/furniture")
