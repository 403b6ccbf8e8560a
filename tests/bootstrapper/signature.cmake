# Signature verification of version_info.xml through the XML signature API.
# The descriptions are signed for each run by signature_fixtures.sh (xmlsec1,
# fresh keys); the web reference is fetched from with-server.sh's server.
set(_signature_serve ${CMAKE_BINARY_DIR}/signature-serve)
file(MAKE_DIRECTORY ${_signature_serve})

# Reports what loading the API gives in whatever folder it is copied to.
add_executable(signature_load_probe ${CMAKE_CURRENT_LIST_DIR}/signature_load_probe.cpp)
target_link_libraries(signature_load_probe PRIVATE qr_bootstrapper)

# Loads, but has none of the API's entry points.
add_library(signature_bare_library SHARED ${CMAKE_CURRENT_LIST_DIR}/signature_bare_library.cpp)
set_target_properties(signature_bare_library PROPERTIES PREFIX "")

add_executable(signature_test ${CMAKE_CURRENT_LIST_DIR}/signature_test.cpp)
target_link_libraries(signature_test PRIVATE qr_bootstrapper qr_xml qr_testsupport GTest::gtest_main)
# cryptxml: the test-only DLL (tests/standins) lands next to the test programs.
add_dependencies(signature_test signature_load_probe signature_bare_library cryptxml)
add_test(NAME signature_test
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/fixtures/with-server.sh
                 bash ${CMAKE_CURRENT_LIST_DIR}/signature_fixtures.sh $<TARGET_FILE:signature_test>
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(signature_test PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED signature_share
    ENVIRONMENT "QR_SERVE_DIR=${_signature_serve};QR_SIGNATURE_SHARE_SERVER=qrsigsrv")
# A network share (\\qrsigsrv\share) that references must never reach.
set(_signature_share ${CMAKE_BINARY_DIR}/signature-share)
add_test(NAME signature_share_setup
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/unc_share.sh setup qrsigsrv ${_signature_share})
add_test(NAME signature_share_cleanup
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/unc_share.sh cleanup qrsigsrv ${_signature_share})
set_tests_properties(signature_share_setup PROPERTIES FIXTURES_SETUP signature_share)
set_tests_properties(signature_share_cleanup PROPERTIES FIXTURES_CLEANUP signature_share)

# The stamped downloader against signed deployments on the loopback server.
add_test(NAME signature_e2e
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/signature_e2e.sh ${CMAKE_BINARY_DIR}/bin
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(signature_e2e PROPERTIES TIMEOUT 300)
