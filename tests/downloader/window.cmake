# Progress window, failure reporting, privileges and single instance.
qr_add_test(window_logic_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/window_logic_test.cpp ${CMAKE_CURRENT_LIST_DIR}/failure_report_test.cpp
  LIBS qr_downloader TIMEOUT 60)
# A live progress window; links the product's resources (dialogs, icons,
# accelerators, the manifest that brings Common Controls 6).
qr_add_test(progress_window_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/progress_window_test.cpp $<TARGET_OBJECTS:qr_resources>
  LIBS qr_downloader DEPENDS limspawn TIMEOUT 120)
qr_add_test(instance_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/instance_test.cpp
  LIBS qr_common DEPENDS QuillrunDownloader limspawn TIMEOUT 120)
