# The TCP reassembly over random segment lists.
target_compile_options(pacterra_stream PRIVATE -fsanitize=fuzzer-no-link)
pacterra_fuzz_target(stream pacterra_stream)
