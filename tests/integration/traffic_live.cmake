# The Traffic bar during a live capture of bursts on loopback, on a real display (Xvfb) inside a network
# namespace of the test's own. Root only (skipped with the reason otherwise); screenshots in screenshots/.
pacterra_window_suite(traffic_live_tests SOURCES traffic_live_test.cpp LABELS gui TIMEOUT 120)
