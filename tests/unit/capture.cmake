pacterra_unit_test(capture_tests
  SOURCES store_test.cpp intake_test.cpp format_test.cpp store_concurrency_test.cpp
  LIBS pacterra_capture)
pacterra_unit_test(cli_tests
  SOURCES cli_test.cpp
  LIBS pacterra_capture)
add_dependencies(cli_tests pacterra-cli)
