# The fast reader of classic capture files against the capture library, record by record.
pacterra_unit_test(file_reader_tests
  SOURCES file_reader_test.cpp
  LIBS pacterra_capture)
