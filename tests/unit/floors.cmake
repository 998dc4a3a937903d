# Each library includes only the floors below its own.
add_test(NAME floors COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-floors.sh)
set_tests_properties(floors PROPERTIES LABELS unit)
# No shipped page gives the window or pacterra-cli capture rights: only the helper holds them.
add_test(NAME pages_give_rights_only_to_the_helper COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-pages.sh)
set_tests_properties(pages_give_rights_only_to_the_helper PROPERTIES LABELS unit)
