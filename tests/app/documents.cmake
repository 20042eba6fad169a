# Window-level tests of the menus, the documents, the measure clipboard and the shell
# integration: a real main window on made-up MIDI devices, offscreen, with private runtime,
# configuration and data folders. Dialogs are driven from timers; every test has a time limit.
set(GS_WINDOW_TEST_ENV "QT_QPA_PLATFORM=offscreen")

function(gs_window_tests target prefix)
    add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/DocumentsTestMain.cpp ${ARGN})
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_LIST_DIR}
                               ${PROJECT_SOURCE_DIR}/tests/midi ${PROJECT_SOURCE_DIR}/tests/document)
    target_link_libraries(${target} PRIVATE gs_app Qt6::Test GTest::gtest)
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
    gtest_discover_tests(${target}
        TEST_PREFIX ${prefix}.
        DISCOVERY_MODE PRE_TEST
        NO_PRETTY_VALUES
        PROPERTIES TIMEOUT 60 ENVIRONMENT "${GS_WINDOW_TEST_ENV}")
endfunction()

gs_window_tests(menu_tests menus ${PROJECT_SOURCE_DIR}/tests/panels/MenuTest.cpp)
gs_window_tests(document_tests documents ${CMAKE_CURRENT_LIST_DIR}/DocumentsTest.cpp)
gs_window_tests(shell_window_tests shell_window ${CMAKE_CURRENT_LIST_DIR}/ShellIntegrationTest.cpp
                ${PROJECT_SOURCE_DIR}/tests/document/ShellLinkBuilder.cpp)
gs_window_tests(measure_clipboard_tests measure_clipboard
                ${PROJECT_SOURCE_DIR}/tests/editing/MeasureClipboardTest.cpp)

# Copy in one program process, paste in another, under a real X server.
add_executable(measure_clipboard_peer ${PROJECT_SOURCE_DIR}/tests/editing/MeasureClipboardPeer.cpp)
target_include_directories(measure_clipboard_peer PRIVATE ${PROJECT_SOURCE_DIR}/tests/midi)
target_link_libraries(measure_clipboard_peer PRIVATE gs_app)
find_program(GS_XVFB_RUN xvfb-run)
if(GS_XVFB_RUN)
    add_test(NAME measure_clipboard.across_two_processes
             COMMAND ${GS_XVFB_RUN} -a -s "-screen 0 1024x768x24 -noreset" bash
                     ${PROJECT_SOURCE_DIR}/tests/editing/MeasureClipboardAcrossProcesses.sh
                     $<TARGET_FILE:measure_clipboard_peer>)
    set_tests_properties(measure_clipboard.across_two_processes PROPERTIES TIMEOUT 120)
else()
    message(WARNING "xvfb-run not found: the two-process clipboard test is left out")
endif()
