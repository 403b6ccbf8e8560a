# File placement, updater copy and the release of a file held by the updater
# service (against the real test service).
qr_add_test(placement_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/placement_test.cpp
    LIBS qr_bootstrapper
    DEPENDS qr_testservice
    TIMEOUT 120)
