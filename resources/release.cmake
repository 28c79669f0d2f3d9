# The release: everything that carries the version set in project() at the top of the
# build. The Windows version record, the AppStream release entry, the man page, the Debian
# changelog and the package itself all take it from here, so none of them can drift.
# Include it from the top-level CMakeLists.txt after the tessarine target is defined and
# after include(GNUInstallDirs), before resources/install.cmake.

set(TESSARINE_RELEASE_DATE "2026-12-06") # of PROJECT_VERSION; change both together
set(TESSARINE_DEVELOPER "Tessarine developers")
set(TESSARINE_DEVELOPER_ZH "Tessarine 开发者")
set(TESSARINE_MAINTAINER "${TESSARINE_DEVELOPER} <developers@tessarine.org>")
# An SPDX id for AppStream; debian/copyright.in carries the licence's text.
set(TESSARINE_LICENSE "MIT")
string(SUBSTRING "${TESSARINE_RELEASE_DATE}" 0 4 TESSARINE_COPYRIGHT_YEAR)

set(release_out "${CMAKE_CURRENT_BINARY_DIR}/release")

# Windows: rc wants four numbers separated by commas.
if(WIN32)
    set(TESSARINE_ICO "${CMAKE_CURRENT_LIST_DIR}/tessarine.ico")
    set(TESSARINE_RC_VERSION
        "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
    configure_file("${CMAKE_CURRENT_LIST_DIR}/tessarine.rc.in" "${release_out}/tessarine.rc" @ONLY)
    target_sources(tessarine PRIVATE "${release_out}/tessarine.rc")
    # The installer (NSIS); "Open with" for the picture types the Windows build reads.
    set(TESSARINE_VERSION4 "${PROJECT_VERSION}.0")
    set(TESSARINE_INSTALLER "${CMAKE_BINARY_DIR}/tessarine-${PROJECT_VERSION}-setup.exe")
    set(TESSARINE_EXE "$<TARGET_FILE:tessarine>")
    set(TESSARINE_OPEN_WITH "")
    set(TESSARINE_OPEN_WITH_REMOVED "")
    foreach(type IN ITEMS .jpg .jpeg .jpe .jfif .png .bmp .dib .gif .ico .cur .wmf .emf)
        string(APPEND TESSARINE_OPEN_WITH
               "    WriteRegStr HKLM \"\${APP}\\SupportedTypes\" \"${type}\" \"\"\n"
               "    WriteRegStr HKLM \"Software\\Classes\\${type}\\OpenWithList\\tessarine.exe\" \"\" \"\"\n")
        string(APPEND TESSARINE_OPEN_WITH_REMOVED
               "    DeleteRegKey HKLM \"Software\\Classes\\${type}\\OpenWithList\\tessarine.exe\"\n")
    endforeach()
    configure_file("${CMAKE_CURRENT_LIST_DIR}/tessarine.nsi.in" "${release_out}/tessarine.nsi.in"
                   @ONLY)
    file(GENERATE OUTPUT "${release_out}/tessarine.nsi" INPUT "${release_out}/tessarine.nsi.in")
    find_program(TESSARINE_MAKENSIS makensis REQUIRED)
    add_custom_command(OUTPUT "${TESSARINE_INSTALLER}"
        COMMAND "${TESSARINE_MAKENSIS}" -V2 "${release_out}/tessarine.nsi"
        DEPENDS tessarine "${release_out}/tessarine.nsi"
        VERBATIM)
    add_custom_target(installer DEPENDS "${TESSARINE_INSTALLER}")
endif()

set(TESSARINE_METAINFO "${release_out}/org.tessarine.Tessarine.metainfo.xml")
configure_file("${CMAKE_CURRENT_LIST_DIR}/org.tessarine.Tessarine.metainfo.xml.in"
               "${TESSARINE_METAINFO}" @ONLY)

if(NOT UNIX OR APPLE)
    return()
endif()

# The Debian changelog wants an RFC 2822 date with its weekday (Sakamoto's method).
function(tessarine_rfc2822_date out iso)
    if(NOT iso MATCHES "^([0-9][0-9][0-9][0-9])-([01][0-9])-([0-3][0-9])$")
        message(FATAL_ERROR "release date \"${iso}\" is not YYYY-MM-DD")
    endif()
    set(year ${CMAKE_MATCH_1})
    set(day ${CMAKE_MATCH_3})
    string(REGEX REPLACE "^0" "" month "${CMAKE_MATCH_2}")
    string(REGEX REPLACE "^0" "" d "${day}")
    math(EXPR index "${month} - 1")
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    set(weekdays Sun Mon Tue Wed Thu Fri Sat)
    list(GET offsets ${index} offset)
    list(GET months ${index} month_name)
    set(y ${year})
    if(month LESS 3)
        math(EXPR y "${y} - 1")
    endif()
    math(EXPR weekday "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${d}) % 7")
    list(GET weekdays ${weekday} weekday_name)
    set(${out} "${weekday_name}, ${day} ${month_name} ${year} 00:00:00 +0000" PARENT_SCOPE)
endfunction()
tessarine_rfc2822_date(TESSARINE_RELEASE_DATE_RFC2822 "${TESSARINE_RELEASE_DATE}")

# Debian's policy: the man page and changelog gzipped at the highest level, without the
# time stamp that would make two builds differ.
find_program(TESSARINE_GZIP gzip REQUIRED)
foreach(file IN ITEMS tessarine.1 changelog)
    configure_file("${CMAKE_CURRENT_LIST_DIR}/debian/${file}.in" "${release_out}/${file}" @ONLY)
    execute_process(COMMAND "${TESSARINE_GZIP}" -9nc "${release_out}/${file}"
                    OUTPUT_FILE "${release_out}/${file}.gz" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
configure_file("${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in" "${release_out}/copyright" @ONLY)

# The package is named tessarine, so its documents go there, not to GNUInstallDirs' DOCDIR
# which takes the project's capitalised name.
install(FILES "${release_out}/copyright" "${release_out}/changelog.gz"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/tessarine")
install(FILES "${release_out}/tessarine.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

# The Debian package (tools/package.sh builds it). Depends: what dpkg-shlibdeps finds in
# the linked libraries, plus what the program loads at run time that nothing links: the
# xcb platform plug-in, Qt's image-format plug-ins (TIFF, WebP ...),
# Qt's own Chinese translations, a CJK font for the captions and the fonts libwmf draws
# metafile text with.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessarine)
set(CPACK_PACKAGE_VENDOR "${TESSARINE_DEVELOPER}")
set(CPACK_PACKAGE_CONTACT "${TESSARINE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut one picture into nine tiles for a nine-picture grid")
set(CPACK_PACKAGE_DESCRIPTION
    "Tessarine cuts one picture into a 3x3 grid of nine equal tiles and writes
them next to the picture as 1.jpg to 9.jpg, to be posted one after another
as a nine-picture grid on a social feed. One window with Simplified Chinese
captions: choose or drop a picture, preview the cut lines, cut.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, qt6-image-formats-plugins, qt6-translations-l10n, fonts-noto-cjk, fonts-urw-base35")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
include(CPack)
