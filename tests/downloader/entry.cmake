# Entry point: command line, switches, settings, launch modes, the built exe.

# Logs every window a watched process creates (see entry_exe_test.cpp).
add_library(qr_window_log_hook SHARED ${CMAKE_CURRENT_LIST_DIR}/window_log_hook.cpp)
set_target_properties(qr_window_log_hook PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_link_libraries(qr_window_log_hook PRIVATE user32)
# Undecorated export name on i686 too (stdcall would add "@12").
target_link_options(qr_window_log_hook PRIVATE -Wl,--kill-at)

qr_add_test(entry_exe_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/entry_exe_test.cpp
  LIBS qr_common version DEPENDS QuillrunDownloader qr_window_log_hook TIMEOUT 120)

qr_add_test(command_line_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/command_line_test.cpp LIBS qr_downloader TIMEOUT 60)
qr_add_test(launch_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/launch_test.cpp LIBS qr_downloader TIMEOUT 60)

# A resource-only DLL with a known string table for the settings loader.
add_library(qr_settings_fixture SHARED ${CMAKE_CURRENT_LIST_DIR}/settings_fixture.rc)
set_target_properties(qr_settings_fixture PROPERTIES PREFIX "" LINKER_LANGUAGE C
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_include_directories(qr_settings_fixture PRIVATE ${CMAKE_SOURCE_DIR}/resources)
target_link_options(qr_settings_fixture PRIVATE -nostdlib -Wl,--entry=0)
qr_add_test(settings_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/settings_test.cpp LIBS qr_common
  DEPENDS qr_settings_fixture TIMEOUT 60)
