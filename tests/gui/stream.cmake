# The "Stream" tab: a real HTTP download, the find bar, Show, Save, the cap, live growth, Follow Stream.
pacterra_gui_test(stream_view_tests SOURCES stream_view_test.cpp LIBS pacterra_app)
# A screenshot of the Stream tab in the main window (tests/gui/screenshots/stream-http.png), under Xvfb when
# it is there.
set(stream_shots ${CMAKE_CURRENT_BINARY_DIR}/screenshots)
add_test(NAME stream_screenshot
         COMMAND sh -c "mkdir -p '${stream_shots}' && rm -f '${stream_shots}/stream-http.png' && \
if command -v xvfb-run >/dev/null; then run='xvfb-run -a -s \"-screen 0 1280x1024x24\"'; else run='env QT_QPA_PLATFORM=offscreen'; fi && \
eval $run \"$0\" screenshotOfHttpExchange && test -s '${stream_shots}/stream-http.png'"
                 $<TARGET_FILE:stream_view_tests>)
set_tests_properties(stream_screenshot PROPERTIES LABELS gui TIMEOUT 120
                     ENVIRONMENT "TZ=UTC;PACTERRA_SHOT_DIR=${stream_shots};QT_QPA_PLATFORM=")
