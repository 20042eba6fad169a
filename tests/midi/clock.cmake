# The step clock: its schedule in virtual time, the counter calibration, the time bases and the
# clock thread. The engine's recording doubles come from the core tests.
add_executable(clock_tests
    ${CMAKE_CURRENT_LIST_DIR}/ClockScheduleTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ClockCalibrationTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ClockSpinMarginTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/StepClockTest.cpp
)
target_include_directories(clock_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/core)
target_link_libraries(clock_tests PRIVATE gs_midi gs_core GTest::gtest_main)
gtest_discover_tests(clock_tests TEST_PREFIX clock. PROPERTIES TIMEOUT 60)
