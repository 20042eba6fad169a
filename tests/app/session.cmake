# Sessions and export: a fake NSM server in the test process drives a real window offscreen
# and the program itself on SIGTERM; the File menu's exports in a real window.
pkg_check_modules(SESSION_TEST_LIBLO REQUIRED IMPORTED_TARGET liblo)
add_executable(app_session_tests
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/NsmSessionTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ExportTest.cpp)
target_include_directories(app_session_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(app_session_tests PRIVATE
    GLIMMERSTAVE_PROGRAM="$<TARGET_FILE:glimmerstave>")
add_dependencies(app_session_tests glimmerstave)
target_link_libraries(app_session_tests PRIVATE gs_app Qt6::Test PkgConfig::SESSION_TEST_LIBLO
                      GTest::gtest)
gtest_discover_tests(app_session_tests TEST_PREFIX "session."
    PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_MODE PRE_TEST)

# Two copies of the program under one fake session, on a JACK server of the test's own.
pkg_check_modules(SESSION_TEST_JACK REQUIRED IMPORTED_TARGET jack)
add_executable(app_session_jack_tests
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/NsmJackTest.cpp)
target_include_directories(app_session_jack_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(app_session_jack_tests PRIVATE
    GLIMMERSTAVE_PROGRAM="$<TARGET_FILE:glimmerstave>")
add_dependencies(app_session_jack_tests glimmerstave)
target_link_libraries(app_session_jack_tests PRIVATE gs_app Qt6::Test
                      PkgConfig::SESSION_TEST_LIBLO PkgConfig::SESSION_TEST_JACK GTest::gtest)
gtest_discover_tests(app_session_jack_tests TEST_PREFIX "session."
    PROPERTIES TIMEOUT 120 RESOURCE_LOCK jack_server ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_MODE PRE_TEST)
