# The main frame, the About box, the application start-up and the program `pacterra`.
target_sources(pacterra_app PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/MainFrame.cpp ${CMAKE_CURRENT_SOURCE_DIR}/WindowFrontEnd.cpp
                                    ${CMAKE_CURRENT_SOURCE_DIR}/Pictures.cpp
                                    ${CMAKE_CURRENT_SOURCE_DIR}/AboutDlg.cpp ${CMAKE_CURRENT_SOURCE_DIR}/TrawlerApp.cpp
                                    ${CMAKE_CURRENT_SOURCE_DIR}/AppCommands.cpp)
target_link_libraries(pacterra_app PUBLIC pacterra_ui pacterra_capture pacterra_config pacterra_dialogs)
# The About box, --version, the package and the manual pages name one version: the project's.
target_compile_definitions(pacterra_app PUBLIC PACTERRA_VERSION="${PROJECT_VERSION}")

add_executable(pacterra ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
target_link_libraries(pacterra PRIVATE pacterra_app)
