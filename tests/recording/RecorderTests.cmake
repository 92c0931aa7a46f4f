# A scriptable capture service; the window tests and the screenshot renderer use it as well.
add_library(veltrane_fake_capture STATIC FakeCaptureService.cpp)
target_include_directories(veltrane_fake_capture PUBLIC ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(veltrane_fake_capture PUBLIC veltrane_capture_api veltrane_media veltrane_core Qt6::Core)

veltrane_add_test(recording_tests
    SOURCES SystemAudioIntakeTest.cpp MicrophoneSampleQueueTest.cpp AudioRecorderTest.cpp
    LIBS veltrane_recording veltrane_fake_capture veltrane_fake_media_writer)
target_include_directories(recording_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/..)
