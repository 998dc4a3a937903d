# Screenshots of the tab strip, the view area, the tip of the day and a link label in its three colours, kept
# in the build tree (tests/gui/screenshots/furniture/, apart from the viewer's shots, which are cleared by
# their own test) to be looked at; under Xvfb when it is there, on a display number of its own.
add_test(NAME furniture_screenshots
         COMMAND sh -c "shots='${CMAKE_CURRENT_BINARY_DIR}/screenshots/furniture' && mkdir -p \"$shots\" && \
rm -f \"$shots\"/tab-strip.png \"$shots\"/view-area.png \"$shots\"/tip-of-the-day.png \"$shots\"/link-label.png && \
if command -v xvfb-run >/dev/null; then run='xvfb-run -a -n 150'; export QT_QPA_PLATFORM=xcb; \
else run=''; export QT_QPA_PLATFORM=offscreen; fi && \
for t in \"$@\"; do PACTERRA_SHOTS=1 $run \"$t\" >/dev/null || exit 1; done && \
test -s \"$shots\"/tab-strip.png && test -s \"$shots\"/view-area.png && \
test -s \"$shots\"/tip-of-the-day.png && test -s \"$shots\"/link-label.png"
                 sh $<TARGET_FILE:visualframework_tests> $<TARGET_FILE:dailytip_tests>
                 $<TARGET_FILE:linklabel_tests>)
set_tests_properties(furniture_screenshots PROPERTIES LABELS gui TIMEOUT 180 ENVIRONMENT "TZ=UTC")
