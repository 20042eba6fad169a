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

if(NOT GLIMMERSTAVE_STDLIB_ONLY)
    # The desktop registration, in a temporary data folder, with stand-in database tools.
    add_executable(document_desktop_tests
        ${CMAKE_CURRENT_LIST_DIR}/FileTypeRegistrationTest.cpp
    )
    target_link_libraries(document_desktop_tests PRIVATE gs_document Qt6::Core Qt6::Gui GTest::gtest)
    gtest_discover_tests(document_desktop_tests TEST_PREFIX desktop.
        PROPERTIES TIMEOUT 30 ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
