# The server-name parsers over any bytes.
target_compile_options(pacterra_names PRIVATE -fsanitize=fuzzer-no-link)
pacterra_fuzz_target(names pacterra_names)
