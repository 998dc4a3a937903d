# The main window's Open when it goes wrong or is cut short, the detail views and the status bar after it,
# the file dialogs' filters and the commands' status texts.
pacterra_gui_test(mainframe_status_tests SOURCES mainframe_status_test.cpp LIBS pacterra_app)
