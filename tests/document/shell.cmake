# Shell integration: the shortcut reader and the path rules (standard library only, so they
# also run in the sanitizer build).
add_executable(document_shell_tests
    ${CMAKE_CURRENT_LIST_DIR}/PathRulesTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ShellLinkBuilder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ShellLinkReaderTest.cpp
)
target_include_directories(document_shell_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(document_shell_tests PRIVATE gs_document_format GTest::gtest_main)
gtest_discover_tests(document_shell_tests TEST_PREFIX shell. PROPERTIES TIMEOUT 60)
