# The tip of the day, and the data files it and the help commands read. The tips and the help pages are
# copied beside the executables, where FindProgramDataFile finds them in a build tree.
target_sources(pacterra_ui PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/DailyTipDlg.cpp)

file(GLOB _pacterra_help CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/res/help/*)
set(_pacterra_data_out ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/tips.txt)
set(_pacterra_data_cmds COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/help
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${PROJECT_SOURCE_DIR}/res/tips.txt ${_pacterra_data_out})
foreach(_f IN LISTS _pacterra_help)
  get_filename_component(_name ${_f} NAME)
  list(APPEND _pacterra_data_out ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/help/${_name})
  list(APPEND _pacterra_data_cmds COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_f}
       ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/help/${_name})
endforeach()
add_custom_command(OUTPUT ${_pacterra_data_out} ${_pacterra_data_cmds}
                   DEPENDS ${PROJECT_SOURCE_DIR}/res/tips.txt ${_pacterra_help}
                   COMMENT "Copying the tips and the help beside the executables" VERBATIM)
add_custom_target(pacterra-data-files ALL DEPENDS ${_pacterra_data_out})
add_dependencies(pacterra_ui pacterra-data-files)
