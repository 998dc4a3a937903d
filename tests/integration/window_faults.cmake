# The main window meeting an adapter that goes away (root only, in a network namespace of its own; skipped
# with the reason otherwise) and a disk that fills during a save.
pacterra_window_suite(window_faults_tests SOURCES window_faults_test.cpp LABELS gui tsan TIMEOUT 120
                      DISPLAY offscreen)
