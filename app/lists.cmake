# The wiring of the lists to the packet views, shared by the main window and the packet viewer.
target_sources(pacterra_app PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ListWiring.cpp)
# The windows built on this library (main window, packet viewer) host the list bars.
target_link_libraries(pacterra_app PUBLIC pacterra_ui)
