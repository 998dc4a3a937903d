# The "Stream" tab: a real HTTP download, the find bar, Show, Save, the cap, live growth, Follow Stream.
pacterra_gui_test(stream_view_tests SOURCES stream_view_test.cpp LIBS pacterra_app)
