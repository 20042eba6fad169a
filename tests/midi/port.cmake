# Tests of the output port, its drivers, the instance bus and port lending.
pkg_check_modules(PORT_TEST_ALSA REQUIRED IMPORTED_TARGET alsa)
pkg_check_modules(PORT_TEST_JACK REQUIRED IMPORTED_TARGET jack)

add_executable(midi_port_tests
    ${CMAKE_CURRENT_LIST_DIR}/OutputPortTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OutputPortPartsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/FluidSynthDriverTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AlsaPortFollowerTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MissingPortSearchTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ClientNamesTest.cpp)
target_link_libraries(midi_port_tests PRIVATE gs_midi PkgConfig::PORT_TEST_ALSA
                      PkgConfig::PORT_TEST_JACK GTest::gtest_main)
gtest_discover_tests(midi_port_tests TEST_PREFIX "port." PROPERTIES TIMEOUT 60)

add_executable(midi_bus_tests ${CMAKE_CURRENT_LIST_DIR}/InstanceBusTest.cpp)
target_link_libraries(midi_bus_tests PRIVATE gs_midi Qt6::Core GTest::gtest)
gtest_discover_tests(midi_bus_tests TEST_PREFIX "bus." PROPERTIES TIMEOUT 60)

# Lending between program processes: a harness process stands in for each running instance.
add_executable(port_harness ${CMAKE_CURRENT_LIST_DIR}/harness/PortHarness.cpp)
target_link_libraries(port_harness PRIVATE gs_midi Qt6::Core)
add_executable(midi_port_process_tests ${CMAKE_CURRENT_LIST_DIR}/OutputPortProcessTest.cpp)
target_compile_definitions(midi_port_process_tests PRIVATE
    PORT_HARNESS="$<TARGET_FILE:port_harness>")
add_dependencies(midi_port_process_tests port_harness)
target_link_libraries(midi_port_process_tests PRIVATE GTest::gtest_main)
gtest_discover_tests(midi_port_process_tests TEST_PREFIX "port." PROPERTIES TIMEOUT 120)

# Through a JACK server with the dummy driver that the test starts and stops itself.
add_executable(midi_jack_tests ${CMAKE_CURRENT_LIST_DIR}/JackEndToEndTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/JackRestartTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/JackFrameTimelineTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HangReport.cpp)
target_link_libraries(midi_jack_tests PRIVATE gs_midi PkgConfig::PORT_TEST_JACK
                      GTest::gtest_main)
gtest_discover_tests(midi_jack_tests TEST_PREFIX "jack." PROPERTIES TIMEOUT 120
                     RESOURCE_LOCK jack_server)
