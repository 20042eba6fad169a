# The setup-file options of the command line: --dump, --convert, --export-midi.
add_executable(document_commands_tests ${CMAKE_CURRENT_LIST_DIR}/DocumentCommandsTest.cpp)
target_include_directories(document_commands_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(document_commands_tests PRIVATE gs_app GTest::gtest_main)
gtest_discover_tests(document_commands_tests TEST_PREFIX commands. PROPERTIES TIMEOUT 60)

# The program itself dispatches the options: dump a committed hand-made 1.0 file.
add_test(NAME commands.program_dumps_an_old_file
         COMMAND glimmerstave --dump ${PROJECT_SOURCE_DIR}/fuzz/corpus/setup_reader/v1.0.qov)
set_tests_properties(commands.program_dumps_an_old_file PROPERTIES TIMEOUT 30
    PASS_REGULAR_EXPRESSION "\"fileVersion\": 1,\n  \"tempoEditMode\": 0,")
add_test(NAME commands.program_reports_a_missing_file
         COMMAND glimmerstave --dump ${CMAKE_CURRENT_BINARY_DIR}/no-such-setup.qov)
set_tests_properties(commands.program_reports_a_missing_file PROPERTIES TIMEOUT 30
    PASS_REGULAR_EXPRESSION "glimmerstave: [^\n]*no-such-setup\\.qov was not found\\.")

# With no display at all: the screenshot renders offscreen, the window says why it cannot open.
add_test(NAME commands.program_without_a_display
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/without_display.sh $<TARGET_FILE:glimmerstave>
                 ${PROJECT_SOURCE_DIR}/fuzz/corpus/setup_reader/v1.0.qov)
set_tests_properties(commands.program_without_a_display PROPERTIES TIMEOUT 120
    PASS_REGULAR_EXPRESSION "PASS:")
