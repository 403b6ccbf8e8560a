# Updater mode: the process-wide session, the windows' link over it, and the
# built downloader started against the fake updater.
qr_add_test(updater_mode_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/updater_mode_test.cpp
  LIBS qr_downloader DEPENDS QuillrunDownloader fakeupdater qrstamp TIMEOUT 180)
target_include_directories(updater_mode_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/ipc)
