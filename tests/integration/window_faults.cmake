# The main window meeting an adapter that goes away (root only, in a network namespace of its own; skipped
# with the reason otherwise) and a disk that fills during a save.
add_executable(window_faults_tests window_faults_test.cpp)
target_link_libraries(window_faults_tests PRIVATE pacterra_app Qt6::Test)
target_compile_definitions(window_faults_tests PRIVATE PACTERRA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
add_test(NAME window_faults_tests COMMAND window_faults_tests)
set_tests_properties(window_faults_tests PROPERTIES LABELS "gui;tsan" TIMEOUT 120 RUN_SERIAL TRUE
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TZ=UTC")
