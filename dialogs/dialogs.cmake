# The configuration and adapter dialogs (Qt Widgets), above the widgets they use and below the window.
add_library(pacterra_dialogs STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/AdapterDlg.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ConfigDlg.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/DialogLayout.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/DialogPrompt.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/EditPorts.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/FilterItemDlg.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/IpAddressEdit.cpp)
target_link_libraries(pacterra_dialogs PUBLIC pacterra_config pacterra_adapters pacterra_ui Qt6::Widgets)
