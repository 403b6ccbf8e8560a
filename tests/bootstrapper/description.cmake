# Reading version_info.xml and the acceptance rule.
qr_add_test(description_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/description_test.cpp
    LIBS qr_bootstrapper
    TIMEOUT 60)
