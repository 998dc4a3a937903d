# The wider intake in the window on a real display (Xvfb): an IPv6 HTTP exchange over a veth pair between
# the test's network namespace and a peer namespace, captured live. Root only; screenshots in screenshots/.
pacterra_window_suite(window_wide_tests SOURCES window_wide_test.cpp LABELS gui TIMEOUT 120)
