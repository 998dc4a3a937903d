# The standard descriptors of both programs, and the --help and --version answers.
target_sources(pacterra_frontend PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/StandardStreams.cpp)
