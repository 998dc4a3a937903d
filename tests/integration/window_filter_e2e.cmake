# The filter line during a live capture on a real display (Xvfb), in a network namespace: typing "port:80"
# keeps only the web connections as they arrive. Root only; the screenshot goes to screenshots/.
pacterra_window_suite(window_filter_e2e_tests SOURCES window_filter_e2e_test.cpp LABELS gui tsan TIMEOUT 120)
