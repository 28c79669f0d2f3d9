# The picture decoder: formats, orientations and colours against expected pixels, refusals of
# what is no picture, and the broken pictures of Debian's test packages.
tessarine_add_test(tst_decode SOURCES ${CMAKE_CURRENT_LIST_DIR}/tst_decode.cpp LABELS decode)
