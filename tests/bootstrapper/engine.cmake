# The engine's task chain against the loopback HTTP server, which serves a
# folder the test fills with its own deployments.
set(_engine_serve ${CMAKE_BINARY_DIR}/engine-serve)
file(MAKE_DIRECTORY ${_engine_serve})
add_executable(engine_test ${CMAKE_CURRENT_LIST_DIR}/engine_test.cpp)
target_link_libraries(engine_test PRIVATE qr_bootstrapper qr_testsupport GTest::gtest_main user32 shell32)
add_test(NAME engine_test
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/fixtures/with-server.sh $<TARGET_FILE:engine_test>
         WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(engine_test PROPERTIES TIMEOUT 120 ENVIRONMENT "QR_SERVE_DIR=${_engine_serve}")
add_dependencies(engine_test fakeupdater)
