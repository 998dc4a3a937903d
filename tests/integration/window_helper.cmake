# The window run by an unprivileged user in the helper's group, on a real display (Xvfb): it captures an
# HTTP exchange on a veth pair through a copy of pacterra-capture that alone holds the rights, stops, saves
# and reads back. Root only (it sets the scene up, then gives its own rights away); screenshots in
# screenshots/.
pacterra_window_suite(window_helper_tests SOURCES window_helper_test.cpp LABELS gui TIMEOUT 120
                      DEPENDS pacterra-cli pacterra-capture)
