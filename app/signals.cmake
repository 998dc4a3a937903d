# The window's answer to SIGTERM, SIGINT, SIGHUP and the end of the desktop session.
target_sources(pacterra_app PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/SignalClose.cpp)
