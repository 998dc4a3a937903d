# Starting the capture helper (pacterra-capture) and reading its adapter list and messages.
target_sources(pacterra_frontend PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/CaptureHelper.cpp)
