#pragma once

#include "capture/capture_window.h"
#include "capture/image_encoder.h"
#include "ui/settings_store.h"

#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;

// The control form, the left pane of the main window: instrument address and
// identification, every capture option, the Connect and Capture buttons.
// It owns the option values and the two histories and turns its buttons and
// the Stop/Run/Single commands into requests (signals, connected directly so
// they run synchronously). It does no instrument or file work.
//
// The options scroll when the pane is short; the Capture button sits in a bar
// under them and so stays in view. Drop-downs take the mouse wheel only while
// they have the keyboard focus; otherwise the wheel scrolls the options.
class CUIForm : public QWidget, public ICaptureForm {
    Q_OBJECT

public:
    // Reads the stored options from `store`, which must outlive the form; the
    // options and histories are written back when the form is destroyed.
    explicit CUIForm(CSettingsStore& store, QWidget* parent = nullptr);
    ~CUIForm() override;

    // Runs twice: when the pane exists and once the frame is complete. Fills
    // the histories and the format list while they are empty and selects the
    // stored choices.
    void InitialUpdate();
    // The short names of the filter's descriptions ("PNG (*.png)|*.png|...")
    // become the image format names offered once InitialUpdate runs again.
    void BuildFormatList(const std::vector<ImageEncoder>& encoders);

    // Controls -> values, in the fixed field order. Stops at the first field
    // that fails its check, reports it and gives that field the focus; the
    // fields after it keep their values. False then.
    bool TakeValues();
    // Values -> controls.
    void ShowValues();

    bool IsInstrumentConnected() const { return m_instrumentConnected; }

    // The Capture button's state and caption ("Capture", "Abort" while a
    // countdown runs), which the window's Capture command follows.
    bool IsCaptureEnabled() const;
    QString CaptureCaption() const;
    // The window's Capture command: as a press of the enabled button.
    void CaptureCommand();
    // While a request is under way the Capture button is shown disabled (its
    // clicks would be dropped anyway); afterwards it is as the connection
    // state says, and gets back the keyboard focus it had.
    void SetRequestUnderWay(bool underWay);

    // The pane size that shows every option and the Capture bar unscrolled.
    QSize FullSizeHint() const;
    QScrollArea* OptionsArea() const { return m_optionsArea; }

    // The Instrument control menu's commands, which the form handles.
    void StopCommand() { emit stopRequested(); }
    void RunCommand() { emit runRequested(); }
    void SingleCommand() { emit singleRequested(); }

    // How a failed field check is reported; a message box unless replaced.
    using ValidationReporter = std::function<void(const QString& message)>;
    void SetValidationReporter(ValidationReporter reporter);
    // The folder picker of the "..." button; returns the chosen directory or
    // an empty text when cancelled. The platform dialog unless replaced.
    using DirectoryPicker = std::function<QString(QWidget* owner, const QString& current)>;
    void SetDirectoryPicker(DirectoryPicker picker);

    QStringList AddressHistory() const;
    QStringList DirectoryHistory() const;
    const QStringList& FormatNames() const { return m_formatNames; }

    // ICaptureForm
    std::string GetVisaAddress() const override;
    std::string GetImageDir() const override;
    std::string GetBaseName() const override;
    std::string GetSequenceText() const override;
    std::string GetCommentsFile() const override;
    std::string GetComments() const override;
    bool GetInvertedGraticule() const override { return m_invertedGraticule; }
    bool GetStopWhileCapturing() const override { return m_stopWhileCapturing; }
    bool GetSaveIdnInComments() const override { return m_saveIdnInComments; }
    std::uint32_t GetCaptureDelay() const override { return m_captureDelay; }
    int GetSaveModeIndex() const override;
    DataFormat GetDataFormat() const override;
    bool IsRetrieveWaveformsChecked() const override;
    int GetImageFormatIndex() const override;
    std::string GetImageExtension() const override;
    void SetSequence(std::uint32_t number, const std::string& text) override;
    void SetIdnText(const std::string& idn) override;
    void SetConnected(bool connected) override;
    void AddDirToHistory(const std::string& directory) override;
    void ClearOfferedChannels() override;
    void AddOfferedChannel(const std::string& name) override;
    void StashComments() override;
    void SnapshotSelectedChannels() override;
    std::vector<std::string> CopySelectedChannels() const override;
    void SetCaptureButtonCaption(const std::string& caption) override;

signals:
    void connectRequested();
    // The Find list was opened (its search under way).
    void findOpened();
    void captureRequested();
    void stopRequested();
    void runRequested();
    void singleRequested();
    // After SetConnected and the folder browser: menu states may change.
    void connectedStateChanged(bool connected);
    // The Capture button's caption changed.
    void captureCaptionChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    // Drop-downs and number boxes leave the wheel to the options area unless
    // they have the focus.
    void GuardWheel(QWidget* page);
    void SetTabOrder();
    void LoadHistories();
    void SaveOptions();
    void OnConnectClicked();
    void OnCaptureClicked();
    void OnGetLastClicked();
    void OnBrowseClicked();
    void OnFindClicked();
    void ReportInvalid(QWidget* field, const QString& message);
    void AddAddressToHistory(const QString& address);

    CSettingsStore& m_store;
    ValidationReporter m_validationReporter;
    DirectoryPicker m_directoryPicker;

    // Values.
    QString m_visaAddress;
    QString m_idnText;
    QString m_imageDir;
    QString m_baseName;
    QString m_sequenceText = QStringLiteral("0001");
    std::uint32_t m_sequenceNumber = 1;
    QString m_commentsFile;
    QString m_comments;
    QString m_lastComments;
    bool m_invertedGraticule = false;
    bool m_saveIdnInComments = false;
    std::uint32_t m_captureDelay = 0;
    bool m_stopWhileCapturing = false;
    int m_saveMode = 0;
    QString m_lastGfxFormat;
    int m_dataFileFormat = 0;
    bool m_instrumentConnected = false;
    bool m_captureAllowed = false; // by the connection state
    bool m_requestUnderWay = false;
    bool m_captureHadFocus = false;
    QStringList m_formatNames;
    QStringList m_offeredChannels;
    QStringList m_selectedChannels;

    // Controls, owned by the form's widget tree.
    QScrollArea* m_optionsArea = nullptr;
    QWidget* m_optionsPage = nullptr;
    QWidget* m_captureBar = nullptr;
    QComboBox* m_addressCombo = nullptr;
    QLabel* m_idnLabel = nullptr;
    QPushButton* m_findButton = nullptr;
    QPushButton* m_connectButton = nullptr;
    QCheckBox* m_saveIdnCheck = nullptr;
    QComboBox* m_saveModeCombo = nullptr;
    QCheckBox* m_retrieveWaveformsCheck = nullptr;
    QComboBox* m_imageDirCombo = nullptr;
    QPushButton* m_browseButton = nullptr;
    QLineEdit* m_baseNameEdit = nullptr;
    QLineEdit* m_sequenceEdit = nullptr;
    QLineEdit* m_captureDelayEdit = nullptr;
    QComboBox* m_imageFormatCombo = nullptr;
    QCheckBox* m_invertedGraticuleCheck = nullptr;
    QCheckBox* m_stopWhileCapturingCheck = nullptr;
    QLineEdit* m_commentsFileEdit = nullptr;
    QPlainTextEdit* m_commentsEdit = nullptr;
    QPushButton* m_getLastButton = nullptr;
    QComboBox* m_dataFormatCombo = nullptr;
    QListWidget* m_channelList = nullptr;
    QPushButton* m_captureButton = nullptr;
};
