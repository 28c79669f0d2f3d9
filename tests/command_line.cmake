# The command line without a display: an unknown option is refused with status 2 before the
# program looks for a screen (a crash in the platform plug-in would end it with 134).
add_test(NAME tessarine_command_line
    COMMAND sh -c "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \"$0\" --bogus 2>&1 | grep -q \"Unknown option 'bogus'\" && { env -u DISPLAY -u WAYLAND_DISPLAY \"$0\" --bogus >/dev/null 2>&1; test $? = 2; }"
        $<TARGET_FILE:tessarine>)
