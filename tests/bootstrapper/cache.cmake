# Download cache: folders, file operations, the copy layer, listed names.
qr_add_test(cache_test
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/file_ops_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/permissions_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/folders_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/file_copy_test.cpp
        ${CMAKE_CURRENT_LIST_DIR}/safe_path_test.cpp
    LIBS qr_bootstrapper
    TIMEOUT 120)

# The copy tests read from \\qrcachesrv\share, a symlink in the test prefix.
set(_cache_share ${CMAKE_BINARY_DIR}/cache-share)
add_test(NAME cache_share_setup
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/unc_share.sh setup qrcachesrv ${_cache_share})
add_test(NAME cache_share_cleanup
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/unc_share.sh cleanup qrcachesrv ${_cache_share})
set_tests_properties(cache_share_setup PROPERTIES FIXTURES_SETUP cache_share)
set_tests_properties(cache_share_cleanup PROPERTIES FIXTURES_CLEANUP cache_share)
set_tests_properties(cache_test PROPERTIES FIXTURES_REQUIRED cache_share
                     ENVIRONMENT "QR_CACHE_SERVER=qrcachesrv;QR_CACHE_SHARE=${_cache_share}")
