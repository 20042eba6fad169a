# The MIDI input: its parser, its router, the ALSA event decoding, and the JACK input end to end.
pkg_check_modules(INPUT_TEST_ALSA REQUIRED IMPORTED_TARGET alsa)
pkg_check_modules(INPUT_TEST_JACK REQUIRED IMPORTED_TARGET jack)

add_executable(midi_input_tests
    ${CMAKE_CURRENT_LIST_DIR}/MidiInputParserTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MidiInputRouterTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AlsaMidiInputTest.cpp)
target_link_libraries(midi_input_tests PRIVATE gs_midi PkgConfig::INPUT_TEST_ALSA
                      GTest::gtest_main)
gtest_discover_tests(midi_input_tests TEST_PREFIX "input." PROPERTIES TIMEOUT 60)

add_executable(midi_input_jack_tests ${CMAKE_CURRENT_LIST_DIR}/JackMidiInputTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HangReport.cpp)
target_link_libraries(midi_input_jack_tests PRIVATE gs_midi PkgConfig::INPUT_TEST_JACK
                      GTest::gtest_main)
gtest_discover_tests(midi_input_jack_tests TEST_PREFIX "jack." PROPERTIES TIMEOUT 120
                     RESOURCE_LOCK jack_server)
