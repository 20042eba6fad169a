# The audio export through the real sound font.
add_executable(midi_export_tests ${CMAKE_CURRENT_LIST_DIR}/AudioExportTest.cpp)
target_include_directories(midi_export_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(midi_export_tests PRIVATE gs_midi gs_document_format GTest::gtest_main)
gtest_discover_tests(midi_export_tests TEST_PREFIX "export." PROPERTIES TIMEOUT 120)
