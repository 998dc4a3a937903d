# The connections list's quick filter.
if(NOT TARGET pacterra_analysis)
  # Pure functions over the store, shared by the window and pacterra-cli (no Widgets).
  add_library(pacterra_analysis STATIC)
  target_include_directories(pacterra_analysis PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(pacterra_analysis PUBLIC pacterra_capture Qt6::Core)
endif()
target_sources(pacterra_analysis PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ConnectionFilter.cpp)
