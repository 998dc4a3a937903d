# The connections list and the packets list: table views over models that read the store, and the
# clipboard helper they share with the decode tree.
target_sources(pacterra_views PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/Clipboard.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ReportListView.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ConnectionsModel.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/PacketsModel.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ListCtrlLeft.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ListCtrlRight.cpp)
