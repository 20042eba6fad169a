# The main window offscreen: size limits, keys before dispatch, the diagnostic view, the close
# guard and the loop popup; then the program itself playing through a JACK server and
# closing on SIGTERM.
add_executable(app_window_tests
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainWindowTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowSynthTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LoopPopupTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ControlTipsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AccessibilityTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CommandLineTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PostedMessageQueueTest.cpp)
target_include_directories(app_window_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(app_window_tests PRIVATE gs_app Qt6::Test GTest::gtest)
gtest_discover_tests(app_window_tests TEST_PREFIX "window."
    PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    DISCOVERY_MODE PRE_TEST)

add_test(NAME window.PlaysThroughJackAndClosesOnSigterm
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/play_and_terminate.sh $<TARGET_FILE:glimmerstave>)
set_tests_properties(window.PlaysThroughJackAndClosesOnSigterm PROPERTIES
    TIMEOUT 120 RESOURCE_LOCK jack_server ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The program and its window through a JACK server of the test's own, with recorder clients
# for their ports.
pkg_check_modules(APP_TEST_JACK REQUIRED IMPORTED_TARGET jack)
add_executable(app_jack_tests
    ${CMAKE_CURRENT_LIST_DIR}/ProgramJackTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowJackTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/InputPlayingJackTest.cpp

    ${CMAKE_CURRENT_LIST_DIR}/MidiLearnTest.cpp)
target_compile_definitions(app_jack_tests PRIVATE
    GLIMMERSTAVE_PROGRAM="$<TARGET_FILE:glimmerstave>")
add_dependencies(app_jack_tests glimmerstave)
target_link_libraries(app_jack_tests PRIVATE gs_app PkgConfig::APP_TEST_JACK Qt6::Test GTest::gtest)
gtest_discover_tests(app_jack_tests TEST_PREFIX "window." PROPERTIES TIMEOUT 180
                     RESOURCE_LOCK jack_server ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                     DISCOVERY_MODE PRE_TEST)

# The same window on an X server with openbox, driven through the server by xdotool: what
# only a window manager decides (which window gets the keys) is tested here. -noreset: a server
# that resets when its last client leaves (the first xprop, before openbox) refuses clients meanwhile.
add_executable(app_desktop_tests
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowManagerTest.cpp)
target_link_libraries(app_desktop_tests PRIVATE gs_app Qt6::Test GTest::gtest)
find_program(GS_DESKTOP_XVFB_RUN xvfb-run)
find_program(GS_OPENBOX openbox)
find_program(GS_XDOTOOL xdotool)
if(GS_DESKTOP_XVFB_RUN AND GS_OPENBOX AND GS_XDOTOOL)
    add_test(NAME window.OnADesktopWithOpenbox
             COMMAND ${GS_DESKTOP_XVFB_RUN} -a -s "-screen 0 1024x768x24 -noreset"
                     bash ${CMAKE_CURRENT_LIST_DIR}/with_openbox.sh
                     $<TARGET_FILE:app_desktop_tests>)
    set_tests_properties(window.OnADesktopWithOpenbox PROPERTIES
        TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=xcb")
else()
    message(WARNING "xvfb-run, openbox or xdotool not found: the desktop window tests are left out")
endif()

# The pictures of docs/loop-panel-typed.png and docs/tooltip-step-column.png; needs an X server.
add_executable(app_window_screenshots
    ${CMAKE_CURRENT_LIST_DIR}/WindowScreenshots.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestSupport.cpp)
target_link_libraries(app_window_screenshots PRIVATE gs_app Qt6::Test)

# MIDI clock, the JACK transport and frame placement, end to end: the program, a JACK server at
# 256-frame periods, a recorder, and a transport master of the test's own.
add_executable(app_sync_tests ${CMAKE_CURRENT_LIST_DIR}/ProgramSyncTest.cpp)
target_compile_definitions(app_sync_tests PRIVATE
    GLIMMERSTAVE_PROGRAM="$<TARGET_FILE:glimmerstave>")
add_dependencies(app_sync_tests glimmerstave)
target_link_libraries(app_sync_tests PRIVATE gs_document_format gs_midi gs_core PkgConfig::APP_TEST_JACK
                      GTest::gtest_main)
gtest_discover_tests(app_sync_tests TEST_PREFIX "window." PROPERTIES TIMEOUT 180
                     RESOURCE_LOCK jack_server ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The program over AT-SPI (a private D-Bus session and an X server of the test's own), as a
# screen reader drives it. Skipped with a message when Xvfb, D-Bus, at-spi2-core or pyatspi
# is missing.
add_test(NAME window.ScreenReaderPressesPlayAndReadsAVelocity
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/atspi_e2e.sh $<TARGET_FILE:glimmerstave>
                 ${CMAKE_CURRENT_BINARY_DIR}/step-column-tree.txt)
set_tests_properties(window.ScreenReaderPressesPlayAndReadsAVelocity PROPERTIES
    TIMEOUT 120 SKIP_RETURN_CODE 77)
