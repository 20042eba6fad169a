# The setup controller through a real main window on the offscreen platform: edits, commands,
# undo and the dispatch of control events, then the stress test of edits against playback.

add_library(editing_test_support STATIC
    ${CMAKE_CURRENT_LIST_DIR}/EditingTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EditingTestSupport.cpp
)
target_include_directories(editing_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(editing_test_support PUBLIC gs_app Qt6::Test GTest::gtest)

add_executable(setup_controller_tests ${CMAKE_CURRENT_LIST_DIR}/SetupControllerTest.cpp)
target_link_libraries(setup_controller_tests PRIVATE editing_test_support)
gtest_discover_tests(setup_controller_tests
    TEST_PREFIX controller.
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    PROPERTIES TIMEOUT 60 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# Playback at a high tempo on the real step clock while the window thread edits. It needs Qt,
# so the standard-library-only ThreadSanitizer build cannot hold it; every other build runs it.
# EditingQtTsan.supp says how to run it in a local -DGLIMMERSTAVE_SANITIZE=thread build.
add_executable(editing_stress_tests ${CMAKE_CURRENT_LIST_DIR}/EditingStressTest.cpp)
target_link_libraries(editing_stress_tests PRIVATE editing_test_support)
gtest_discover_tests(editing_stress_tests
    TEST_PREFIX controller.stress.
    DISCOVERY_MODE PRE_TEST
    NO_PRETTY_VALUES
    PROPERTIES TIMEOUT 300 LABELS stress ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
