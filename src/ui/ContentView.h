#pragma once

#include "recording/AudioRecorder.h"
#include "recording/SilenceWatch.h"

#include <QString>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>

class QButtonGroup;
class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QTimer;
class QVBoxLayout;

namespace veltrane {

class AppEnvironment;
class AssignmentView;
class ElidingLabel;
class RecordingDot;
class LevelMeter;
class UploadQueueView;

// What the record button is doing: a start or a stop that has not finished yet keeps it disabled.
enum class RecordTransition { none, starting, stopping };

// The main screen: source and microphone pickers, gains and meters, the project and meeting,
// the device identifier and folder, the upload queue, the format and the record button. Owns
// the recorder, whose every finished chunk the environment files under the project and meeting
// chosen when the chunk is reported. Main thread only.
class ContentView : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* kDeviceIDKey = "kDeviceID";
    static constexpr double kChunkDurationSeconds = 300.0;
    static constexpr const char* kChunkSecondsVariable = "VELTRANE_CHUNK_SECONDS";
    static constexpr int kWidthPx = 400;

    // `defaultDeviceID` is used while the user defaults hold no device identifier.
    ContentView(AppEnvironment& env, std::unique_ptr<AudioRecorder> recorder, QString defaultDeviceID,
                QWidget* parent = nullptr);
    ~ContentView() override;

    [[nodiscard]] AudioRecorder& recorder() { return *recorder_; }
    [[nodiscard]] QString deviceID() const;
    [[nodiscard]] RecordTransition transition() const { return transition_; }
    // True while recording, or while a stop still finishes the last chunk.
    [[nodiscard]] bool isBusy() const {
        return recorder_->isRecording() || transition_ != RecordTransition::none;
    }

    // How long both meters must read zero before the silence warning shows (30 s; shorter for
    // demonstrations).
    void setSilenceLimit(std::chrono::steady_clock::duration limit) { silence_.setLimit(limit); }

    // The record button's action (also Ctrl+R).
    void toggleRecording();
    // Stops a running recording; `done` runs once its last chunk is finished and queued.
    void stopAndThen(std::function<void()> done);

    // Gain as a whole percentage: 1.0 → "100%", 0.35 → "35%".
    [[nodiscard]] static QString gainPercentText(double gain);
    [[nodiscard]] static bool canStartRecording(const QString& deviceID, bool hasFolder, bool hasSource,
                                                bool hasProject);
    // The chunk length: 300 s, or VELTRANE_CHUNK_SECONDS (5 to 3600) for tests and demonstrations.
    [[nodiscard]] static double chunkDurationSeconds(const QByteArray& variable);
    // The desktop's sound settings: the first of the GNOME, KDE and pavucontrol panels that is
    // installed (program and arguments); absent when none is.
    [[nodiscard]] static std::optional<std::pair<QString, QStringList>> soundSettingsCommand();
    // The orange line shown while a recording hears nothing.
    [[nodiscard]] static QString silenceWarningText(const QString& sourceName);

signals:
    void helpRequested();
    void aboutRequested();
    // The recording ended without a stop from the user (the capture failed or the source went
    // away); `reason` is the recorder's error text.
    void recordingStoppedByItself(const QString& reason);
    // The silence warning appeared.
    void silenceWarningShown(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The screen is built section by section, top to bottom, in the order its widgets take focus.
    void buildLayout();
    [[nodiscard]] QWidget* buildAccountBar();
    [[nodiscard]] QLayout* buildHeader();
    [[nodiscard]] QWidget* buildPermissionNotice();
    void buildWorkingArea(QVBoxLayout& column);
    void buildSourcePickers(QVBoxLayout& sources);
    void buildGainRows(QVBoxLayout& sources);
    void buildMeters(QVBoxLayout& sources);
    void buildDeviceRows(QVBoxLayout& settingsBox);
    void buildFolderRows(QVBoxLayout& settingsBox);
    [[nodiscard]] QWidget* buildChunkRow();
    [[nodiscard]] QWidget* buildBottomBar();
    [[nodiscard]] QWidget* buildFormatPicker();
    [[nodiscard]] QString signedInEmail() const;
    void refreshSources();
    void refreshControls();
    void refreshLevels();
    void refreshMeters();
    void refreshChunkRow();
    void refreshErrors();
    void systemSourceChosen(int index);
    void microphoneChosen(int index);
    void deviceIDEdited(const QString& text);
    void recordingChanged();
    // The selected project and meeting, as chunks are filed under them (the recorder reports
    // each finished chunk with it, and the environment files it so).
    [[nodiscard]] std::optional<ChunkFiling> currentFiling() const;
    void checkSilence();
    void setTransition(RecordTransition transition);

    AppEnvironment& env_;
    std::unique_ptr<AudioRecorder> recorder_;
    QString defaultDeviceID_;
    RecordTransition transition_ = RecordTransition::none;
    SilenceWatch silence_;
    std::vector<std::function<void()>> afterStop_;

    ElidingLabel* accountLabel_ = nullptr;
    QPushButton* signOutButton_ = nullptr;
    QScrollArea* scrollArea_ = nullptr;
    RecordingDot* recordingDot_ = nullptr;
    QLabel* titleLabel_ = nullptr;
    QWidget* permissionNotice_ = nullptr;
    QPushButton* settingsButton_ = nullptr;
    QWidget* workingArea_ = nullptr;
    QComboBox* sourcePicker_ = nullptr;
    QComboBox* microphonePicker_ = nullptr;
    QSlider* systemGainSlider_ = nullptr;
    QLabel* systemGainText_ = nullptr;
    QWidget* microphoneGainRow_ = nullptr;
    QSlider* microphoneGainSlider_ = nullptr;
    QLabel* microphoneGainText_ = nullptr;
    LevelMeter* systemMeter_ = nullptr;
    LevelMeter* microphoneMeter_ = nullptr;
    QLabel* silenceWarning_ = nullptr;
    QLabel* serverNotice_ = nullptr; // the sound server is being waited for
    AssignmentView* assignmentView_ = nullptr;
    QLineEdit* deviceField_ = nullptr;
    QLabel* deviceWarningIcon_ = nullptr;
    QLabel* deviceHint_ = nullptr;
    ElidingLabel* folderName_ = nullptr;
    QPushButton* chooseButton_ = nullptr;
    QLabel* folderError_ = nullptr;
    QWidget* chunkRow_ = nullptr;
    QLabel* chunkCount_ = nullptr;
    ElidingLabel* lastChunkName_ = nullptr;
    UploadQueueView* uploadQueue_ = nullptr;
    QButtonGroup* formatGroup_ = nullptr;
    QPushButton* wavButton_ = nullptr;
    QPushButton* m4aButton_ = nullptr;
    QPushButton* recordButton_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QTimer* silenceTimer_ = nullptr;
};

} // namespace veltrane
