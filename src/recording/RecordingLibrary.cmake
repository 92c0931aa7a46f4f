add_library(veltrane_recording STATIC
    AudioRecorder.cpp
    MicrophoneSampleQueue.cpp
    RecordingPipeline.cpp
    SilenceWatch.cpp
    SystemAudioIntake.cpp
    SystemSource.cpp)
target_link_libraries(veltrane_recording PUBLIC
    veltrane_storage veltrane_session veltrane_normalizer veltrane_user_defaults veltrane_capture_api veltrane_encoding_api veltrane_dispatch veltrane_media veltrane_core
    Qt6::Core)
