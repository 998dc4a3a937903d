# Packets and bytes per time bin at several resolutions, and their upkeep from the store (the traffic graph
# and `pacterra-cli rate`).
if(NOT TARGET pacterra_analysis)
  add_library(pacterra_analysis STATIC)
  target_include_directories(pacterra_analysis PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(pacterra_analysis PUBLIC pacterra_capture)
endif()
target_sources(pacterra_analysis PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/RateBins.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/StoreRates.cpp)
