# The built downloader run end to end: stamped copies against deployments
# the test writes into a served folder, which is also reachable as the
# network share \\qre2esrv\share.
set(_run_exe_serve ${CMAKE_BINARY_DIR}/run-exe-serve)
file(MAKE_DIRECTORY ${_run_exe_serve})
add_executable(run_exe_test ${CMAKE_CURRENT_LIST_DIR}/run_exe_test.cpp)
target_link_libraries(run_exe_test PRIVATE qr_testsupport GTest::gtest_main user32 shell32 advapi32)
add_dependencies(run_exe_test QuillrunDownloader qrstamp fakeupdater)
add_test(NAME run_exe_test
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/fixtures/with-server.sh $<TARGET_FILE:run_exe_test>
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_test(NAME run_exe_share_setup
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/unc_share.sh setup qre2esrv ${_run_exe_serve})
add_test(NAME run_exe_share_cleanup
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/unc_share.sh cleanup qre2esrv ${_run_exe_serve})
set_tests_properties(run_exe_share_setup PROPERTIES FIXTURES_SETUP run_exe_share)
set_tests_properties(run_exe_share_cleanup PROPERTIES FIXTURES_CLEANUP run_exe_share)
set_tests_properties(run_exe_test PROPERTIES TIMEOUT 240 FIXTURES_REQUIRED run_exe_share
    ENVIRONMENT "QR_SERVE_DIR=${_run_exe_serve};QR_SHARE_SERVER=qre2esrv;QR_REQUEST_LOG=${CMAKE_BINARY_DIR}/run-exe-requests.log")
