# Installs the freedesktop integration: the desktop entry, the AppStream metainfo and the
# hicolor icons. Include it from the top-level CMakeLists.txt after resources/release.cmake,
# which fills in the metainfo's release.
# The file names follow the application id, which is also what the program should pass to
# QGuiApplication::setDesktopFileName() so Wayland compositors match windows to the entry.

install(FILES "${CMAKE_CURRENT_LIST_DIR}/org.tessarine.Tessarine.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${TESSARINE_METAINFO}"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
foreach(size IN ITEMS 16 32 48 64 128 256)
    install(FILES "${CMAKE_CURRENT_LIST_DIR}/icons/hicolor/${size}x${size}/apps/tessarine.png"
            DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps")
endforeach()
install(FILES "${CMAKE_CURRENT_LIST_DIR}/icons/hicolor/scalable/apps/tessarine.svg"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")
