# `pacterra-cli rate` against tshark's io,stat on the bundled sample and a capture of bursts on loopback.
pacterra_unit_test(rate_cli_tests
  SOURCES rate_cli_test.cpp
  LIBS pacterra_capture)
add_dependencies(rate_cli_tests pacterra-cli)
