# The window through its handlers: what a person's
# steps leave behind, and the tiles of every kind of cut.
tessarine_add_test(tst_window SOURCES tst_window.cpp LABELS handlers)
