# The program on a real display (Xvfb) in a network namespace: capture on loopback, inspect, save, compare
# with pacterra-cli. Root only (skipped with the reason otherwise); screenshots in screenshots/.
pacterra_window_suite(window_e2e_tests SOURCES window_e2e_test.cpp LABELS gui tsan TIMEOUT 120
                      DEPENDS pacterra-cli)
