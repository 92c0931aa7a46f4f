veltrane_add_test(recording_tests
    SOURCES
        SystemAudioIntakeTest.cpp
        MicrophoneSampleQueueTest.cpp
        AudioRecorderTest.cpp
        MicrophoneIntakeTest.cpp
        SourceSelectionTest.cpp
        FakeCaptureService.cpp
    LIBS veltrane_recording veltrane_fake_media_writer)
target_include_directories(recording_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/..)
