# The main window as a client of a weston of the test's own (headless backend, private
# socket): the loop panel, reading a setup and the stored position where the compositor, not
# the program, decides about windows. Skipped when weston or Qt's Wayland plugin is missing.
add_executable(app_wayland_tests
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestMain.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestSupport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WaylandTest.cpp)
target_link_libraries(app_wayland_tests PRIVATE gs_app Qt6::Test GTest::gtest)
add_test(NAME window.OnWaylandWithWeston
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/with_weston.sh
                 $<TARGET_FILE:app_wayland_tests>)
set_tests_properties(window.OnWaylandWithWeston PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)

# The pictures of docs/loop-panel-wayland*.png, taken by weston's own screenshooter:
# bash tests/app/with_weston.sh --screenshots build/tests/app/app_wayland_screenshots docs
add_executable(app_wayland_screenshots
    ${CMAKE_CURRENT_LIST_DIR}/WaylandScreenshots.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowTestSupport.cpp)
target_link_libraries(app_wayland_screenshots PRIVATE gs_app Qt6::Test)
