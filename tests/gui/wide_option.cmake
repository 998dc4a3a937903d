# The wider intake's option, its status pane and the rule dialog's word on IPv6.
pacterra_gui_test(wide_option_tests SOURCES wide_option_test.cpp LIBS pacterra_app)
# Its own directory: the test writes Config.cfg beside its executable.
set_target_properties(wide_option_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/wide-option-bin)
