# Signature verification of version_info.xml through the XML signature API.
# The descriptions are signed for each run by signature_fixtures.sh (xmlsec1,
# fresh keys); the web reference is fetched from with-server.sh's server.
set(_signature_serve ${CMAKE_BINARY_DIR}/signature-serve)
file(MAKE_DIRECTORY ${_signature_serve})

# Reports what loading the API gives in whatever folder it is copied to.
add_executable(signature_load_probe ${CMAKE_CURRENT_LIST_DIR}/signature_load_probe.cpp)
target_link_libraries(signature_load_probe PRIVATE qr_bootstrapper)

add_executable(signature_test ${CMAKE_CURRENT_LIST_DIR}/signature_test.cpp)
target_link_libraries(signature_test PRIVATE qr_bootstrapper qr_xml qr_testsupport GTest::gtest_main)
add_dependencies(signature_test signature_load_probe)
# The test-only cryptxml.dll lands next to the test programs; its folder is
# read after this one, so the dependency is added once everything is read.
function(_qr_signature_needs_cryptxml)
  if(TARGET cryptxml)
    add_dependencies(signature_test cryptxml)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _qr_signature_needs_cryptxml)
add_test(NAME signature_test
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/fixtures/with-server.sh
                 bash ${CMAKE_CURRENT_LIST_DIR}/signature_fixtures.sh $<TARGET_FILE:signature_test>
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(signature_test PROPERTIES TIMEOUT 120 ENVIRONMENT "QR_SERVE_DIR=${_signature_serve}")
