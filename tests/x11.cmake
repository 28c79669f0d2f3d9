# The real program on an X server of its own (Xvfb, no window manager): its
# window, drops from another X client and the open dialog.  Skipped where
# xvfb-run is not installed.  The X tests take turns, since concurrent
# "xvfb-run -a" calls can race for the same display number.
add_test(NAME tessarine_real_window
    COMMAND sh -c "command -v xvfb-run >/dev/null || { echo 'SKIP: xvfb-run is not installed (Debian package xvfb)'; exit 77; }; exec xvfb-run -a -s '-screen 0 1280x1024x24' \"$0\" \"$1\""
        ${CMAKE_CURRENT_SOURCE_DIR}/x11/real_window.py $<TARGET_FILE:tessarine>)
set_tests_properties(tessarine_real_window PROPERTIES
    LABELS x11
    SKIP_RETURN_CODE 77
    RESOURCE_LOCK xvfb
    TIMEOUT 120)
# How often the real window repaints while a large photo loads and is cut.
add_test(NAME tst_window_on_x11
    COMMAND sh -c "command -v xvfb-run >/dev/null || { echo 'SKIP: xvfb-run is not installed (Debian package xvfb)'; exit 77; }; exec xvfb-run -a -s '-screen 0 1280x1024x24' env QT_QPA_PLATFORM=xcb \"$0\" largePhoto"
        $<TARGET_FILE:tst_window>)
# Alone, since other tests on the same two cores would be felt as its own slowness.
set_tests_properties(tst_window_on_x11 PROPERTIES
    LABELS x11
    SKIP_RETURN_CODE 77
    RUN_SERIAL TRUE
    TIMEOUT 300)
