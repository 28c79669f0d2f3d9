# Writing the tiles: faults of the file system under the writer, the
# all-or-nothing commit, and the bitmap bytes against Qt's own writer.
tessarine_add_test(tst_writefaults SOURCES tst_writefaults.cpp LABELS writes PRIVATE_MOUNTS)
