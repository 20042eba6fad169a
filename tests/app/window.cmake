# The main window offscreen: size limits, keys before dispatch, the diagnostic view, the close
# guard and the loop popup; then the program itself playing through a JACK server and
# closing on SIGTERM.
add_executable(app_window_tests
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainWindowTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LoopPopupTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CommandLineTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PostedMessageQueueTest.cpp)
target_link_libraries(app_window_tests PRIVATE gs_app Qt6::Test GTest::gtest)
gtest_discover_tests(app_window_tests TEST_PREFIX "window."
    PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_MODE PRE_TEST)

add_test(NAME window.PlaysThroughJackAndClosesOnSigterm
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/play_and_terminate.sh $<TARGET_FILE:glimmerstave>)
set_tests_properties(window.PlaysThroughJackAndClosesOnSigterm PROPERTIES
    TIMEOUT 120 RESOURCE_LOCK jack_server ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The program through a JACK server of the test's own, with a recorder client for its port.
pkg_check_modules(APP_TEST_JACK REQUIRED IMPORTED_TARGET jack)
add_executable(app_jack_tests ${CMAKE_CURRENT_LIST_DIR}/ProgramJackTest.cpp)
target_compile_definitions(app_jack_tests PRIVATE
    GLIMMERSTAVE_PROGRAM="$<TARGET_FILE:glimmerstave>")
add_dependencies(app_jack_tests glimmerstave)
target_link_libraries(app_jack_tests PRIVATE gs_document_format gs_core PkgConfig::APP_TEST_JACK
                      GTest::gtest_main)
gtest_discover_tests(app_jack_tests TEST_PREFIX "window." PROPERTIES TIMEOUT 180
                     RESOURCE_LOCK jack_server)

# MIDI clock, the JACK transport and frame placement, end to end: the program, a JACK server at
# 256-frame periods, a recorder, and a transport master of the test's own.
add_executable(app_sync_tests ${CMAKE_CURRENT_LIST_DIR}/ProgramSyncTest.cpp)
target_compile_definitions(app_sync_tests PRIVATE
    GLIMMERSTAVE_PROGRAM="$<TARGET_FILE:glimmerstave>")
add_dependencies(app_sync_tests glimmerstave)
target_link_libraries(app_sync_tests PRIVATE gs_document_format gs_core PkgConfig::APP_TEST_JACK
                      GTest::gtest_main)
gtest_discover_tests(app_sync_tests TEST_PREFIX "window." PROPERTIES TIMEOUT 180
                     RESOURCE_LOCK jack_server)
