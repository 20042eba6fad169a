# The "Use High-Res Timer" preference, in a temporary configuration directory.
add_executable(preferences_tests ${CMAKE_CURRENT_LIST_DIR}/PreferencesTest.cpp
                                 ${CMAKE_CURRENT_LIST_DIR}/MidiBindingsTest.cpp)
target_include_directories(preferences_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/core)
target_link_libraries(preferences_tests PRIVATE gs_app GTest::gtest_main)
gtest_discover_tests(preferences_tests TEST_PREFIX preferences. PROPERTIES TIMEOUT 60)
