# The server-name parsers, and the names of a store's connections (QUIC packets are sealed with libcrypto).
find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
pacterra_unit_test(server_name_tests
  SOURCES server_name_test.cpp
  LIBS pacterra_analysis pacterra_names OpenSSL::Crypto)
