# Picture decoding. Included by the platform library's CMakeLists after
# add_library(tessarine_platform ...). Qt reads the common formats everywhere.  On Linux, libheif
# reads HEIF/HEIC, libwmf draws Windows metafiles and libemf2svg enhanced ones (drawn with Qt
# SVG), none of which Qt 6.4 can read; JPEGs go to libjpeg-turbo directly.  On Windows the
# system draws both kinds of metafile.
target_sources(tessarine_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/ImageDecoder.h
    ${CMAKE_CURRENT_LIST_DIR}/ImageDecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/decode/Decoders.h
    ${CMAKE_CURRENT_LIST_DIR}/decode/BitfieldBmp.cpp
    ${CMAKE_CURRENT_LIST_DIR}/decode/Formats.cpp
    ${CMAKE_CURRENT_LIST_DIR}/${TESSARINE_SYSTEM}/DecoderProcess.cpp
    ${CMAKE_CURRENT_LIST_DIR}/${TESSARINE_SYSTEM}/PictureReaders.cpp
)
if(WIN32)
    target_sources(tessarine_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/windows/Metafiles.cpp)
    target_link_libraries(tessarine_platform PRIVATE gdi32
        Qt6::QGifPlugin Qt6::QICOPlugin Qt6::QJpegPlugin)
    return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(TESSARINE_HEIF REQUIRED IMPORTED_TARGET GLOBAL libheif)
# libwmf.pc lists every library libwmf itself was linked against; we only need its own two
# (the shared objects pull in the rest), and its include flags for freetype.
pkg_check_modules(TESSARINE_WMF REQUIRED libwmf)
find_library(TESSARINE_WMF_LIBRARY wmf REQUIRED HINTS ${TESSARINE_WMF_LIBRARY_DIRS})
find_library(TESSARINE_WMFLITE_LIBRARY wmflite REQUIRED HINTS ${TESSARINE_WMF_LIBRARY_DIRS})
# The decoding process is walled off by a seccomp filter.
pkg_check_modules(TESSARINE_SECCOMP REQUIRED IMPORTED_TARGET libseccomp)
find_library(TESSARINE_EMF2SVG_LIBRARY emf2svg REQUIRED)
find_path(TESSARINE_EMF2SVG_INCLUDE_DIR emf2svg.h REQUIRED)
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Svg)

target_sources(tessarine_platform PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/linux/decode/EmfDecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/linux/decode/HeifDecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/linux/decode/JpegDecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/linux/decode/WmfDecoder.cpp
)
target_include_directories(tessarine_platform SYSTEM PRIVATE ${TESSARINE_WMF_INCLUDE_DIRS}
    ${TESSARINE_EMF2SVG_INCLUDE_DIR})
target_link_libraries(tessarine_platform PRIVATE
    Qt6::Svg
    JPEG::JPEG
    PNG::PNG
    ${TESSARINE_EMF2SVG_LIBRARY}
    PkgConfig::TESSARINE_HEIF
    PkgConfig::TESSARINE_SECCOMP
    ${TESSARINE_WMF_LIBRARY}
    ${TESSARINE_WMFLITE_LIBRARY}
)
