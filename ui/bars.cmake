# The docking bars: sizing bar with its remembered sizes, grip and caption title bars, the two list bars.
target_sources(pacterra_ui PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/SizingControlBar.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CaptionBars.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ListBars.cpp)
