pacterra_unit_test(capture_tests
  SOURCES store_test.cpp intake_test.cpp format_test.cpp process_owner_test.cpp
  LIBS pacterra_capture)
# The store under concurrent reading; the ThreadSanitizer build runs the tests labelled tsan.
pacterra_unit_test(store_concurrency_tests
  SOURCES store_concurrency_test.cpp
  LIBS pacterra_capture
  LABEL tsan)
pacterra_unit_test(cli_tests
  SOURCES cli_test.cpp
  LIBS pacterra_capture)
add_dependencies(cli_tests pacterra-cli)
# Capture files through the Save and Open commands, with a scripted front end.
pacterra_unit_test(capture_file_tests
  SOURCES capture_file_test.cpp
  LIBS pacterra_capture)
pacterra_unit_test(adapters_tests
  SOURCES adapters_test.cpp
  LIBS pacterra_adapters)
