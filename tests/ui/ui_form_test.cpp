#include "tests/ui/qt_app_fixture.h"
#include "ui/settings_store.h"
#include "ui/ui_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using quarvel::test::ScopedSettingsDir;

namespace {

const std::vector<ImageEncoder> kEncoders = {{"BMP", {"bmp"}, "bmp"},
                                             {"JPEG", {"jpeg", "jpg"}, "jpeg"},
                                             {"PNG", {"png"}, "png"},
                                             {"PPM", {"ppm"}, "ppm"}};

class UiFormTest : public ::testing::Test {
protected:
    // A form set up as the main window sets it up: first initial update, the
    // format list, second initial update.
    void CreateForm() {
        m_store = std::make_unique<CSettingsStore>();
        m_form = std::make_unique<CUIForm>(*m_store);
        m_form->SetValidationReporter([this](const QString& text) { m_messages.append(text); });
        m_form->InitialUpdate();
        m_form->BuildFormatList(kEncoders);
        m_form->InitialUpdate();
    }
    // Destroying the form writes its options to the store.
    void DestroyForm() {
        m_form.reset();
        m_store.reset();
    }
    void TearDown() override { DestroyForm(); }

    template <typename T> T* Get(const char* name) {
        return quarvel::test::Child<T>(m_form.get(), name);
    }
    QComboBox* Address() { return Get<QComboBox>("visaAddressCombo"); }
    QComboBox* ImageDir() { return Get<QComboBox>("imageDirCombo"); }
    QListWidget* Channels() { return Get<QListWidget>("channelList"); }
    QCheckBox* Retrieve() { return Get<QCheckBox>("retrieveWaveformsCheck"); }

    // What the controller does on a successful connect.
    void Connect(const QString& address, const QStringList& channels) {
        Address()->setEditText(address);
        m_form->TakeValues();
        m_form->ClearOfferedChannels();
        for (const QString& name : channels)
            m_form->AddOfferedChannel(name.toStdString());
        m_form->SetIdnText("R&S,FSV-7,100&1,1.2");
        m_form->SetConnected(true);
    }

    ScopedSettingsDir m_settingsDir;
    std::unique_ptr<CSettingsStore> m_store;
    std::unique_ptr<CUIForm> m_form;
    QStringList m_messages;
};

TEST_F(UiFormTest, ConnectingOffersTheChannelsTickedDisconnectingTakesThemAwayNoneClearRetrieval) {
    CreateForm();
    EXPECT_EQ(m_form->GetDataFormat(), DataFormat::Csv); // the stored index 0
    EXPECT_FALSE(Retrieve()->isEnabled());
    Connect("TCPIP0::10.0.0.1::INSTR", {"CHAN1", "CHAN2", "POD1"});
    // Ampersands show literally, after a round trip through the label too.
    m_form->TakeValues();
    m_form->ShowValues();
    EXPECT_EQ(Get<QLabel>("idnLabel")->text(), "R&S,FSV-7,100&1,1.2");

    EXPECT_FALSE(Address()->isEnabled());
    EXPECT_TRUE(Get<QPushButton>("captureButton")->isEnabled());
    ASSERT_EQ(Channels()->count(), 3);
    EXPECT_EQ(Channels()->item(2)->text(), "POD1");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Channels()->item(i)->checkState(), Qt::Checked);
    EXPECT_TRUE(Retrieve()->isEnabled());
    EXPECT_TRUE(Get<QComboBox>("dataFormatCombo")->isEnabled());

    Channels()->item(1)->setCheckState(Qt::Unchecked);
    m_form->SnapshotSelectedChannels();
    EXPECT_EQ(m_form->CopySelectedChannels(), (std::vector<std::string>{"CHAN1", "POD1"}));

    Retrieve()->setChecked(true);
    m_form->SetConnected(false);
    EXPECT_TRUE(Address()->isEnabled());
    EXPECT_FALSE(Get<QPushButton>("captureButton")->isEnabled());
    EXPECT_EQ(Channels()->count(), 0);
    EXPECT_FALSE(Retrieve()->isEnabled());
    EXPECT_TRUE(Retrieve()->isChecked()); // the state is kept while disabled
    EXPECT_FALSE(m_form->IsInstrumentConnected());

    // An instrument without channels leaves waveform retrieval cleared and off.
    Connect("TCPIP0::10.0.0.2::INSTR", {});
    EXPECT_FALSE(Retrieve()->isChecked());
    EXPECT_FALSE(Retrieve()->isEnabled());
    EXPECT_FALSE(Get<QComboBox>("dataFormatCombo")->isEnabled());
    EXPECT_TRUE(m_form->IsInstrumentConnected());
}

// Addresses keep five, directories ten; either way a value already there
// (compared without case) moves to the front as last spelt.
TEST_F(UiFormTest, HistoriesKeepTheirNewestFirstAndOneEntryPerValueSpeltAsLastGiven) {
    CreateForm();
    for (int i = 1; i <= 6; ++i) {
        Connect(QStringLiteral("TCPIP0::host%1::INSTR").arg(i), {});
        m_form->SetConnected(false);
    }
    Connect("tcpip0::HOST3::instr", {});
    EXPECT_EQ(m_form->AddressHistory(),
              QStringList({"tcpip0::HOST3::instr", "TCPIP0::host6::INSTR", "TCPIP0::host5::INSTR",
                           "TCPIP0::host4::INSTR", "TCPIP0::host2::INSTR"}));
    EXPECT_EQ(Address()->currentText(), "tcpip0::HOST3::instr");

    for (int i = 1; i <= 11; ++i)
        m_form->AddDirToHistory("/shots/d" + std::to_string(i));
    m_form->AddDirToHistory("/SHOTS/D5");
    const QStringList history = m_form->DirectoryHistory();
    ASSERT_EQ(history.size(), 10);
    EXPECT_EQ(history.first(), "/SHOTS/D5");
    EXPECT_EQ(history.last(), "/shots/d2");
    EXPECT_EQ(history.count(QStringLiteral("/shots/d5")), 0);
}

TEST_F(UiFormTest, HistoriesComeFromTheStoreAndGoBackOnDestruction) {
    m_settingsDir.WriteRaw("Instrument/VISAResource0", "TCPIP0::stored::INSTR");
    m_settingsDir.WriteRaw("Instrument/VISAResource1", "TCPIP0::older::INSTR");
    m_settingsDir.WriteRaw("Files/RecentDir0", "/stored/dir");
    CreateForm();
    EXPECT_EQ(Address()->currentText(), "TCPIP0::stored::INSTR");
    EXPECT_EQ(Address()->count(), 2);
    EXPECT_EQ(m_form->GetImageDir(), "/stored/dir");

    Connect("TCPIP0::older::INSTR", {});
    DestroyForm();
    EXPECT_EQ(m_settingsDir.ReadRaw("Instrument/VISAResource0").toString(), "TCPIP0::older::INSTR");
    EXPECT_EQ(m_settingsDir.ReadRaw("Instrument/VISAResource1").toString(),
              "TCPIP0::stored::INSTR");
}

TEST_F(UiFormTest, EditableDropDownsShowTheFirstEntryThatBeginsWithTheValue) {
    CreateForm();
    m_form->AddDirToHistory("/data/scope/long");
    m_form->AddDirToHistory("/other");
    // The folder browser picks a folder whose path begins a longer entry.
    m_form->SetDirectoryPicker(
        [](QWidget*, const QString&) { return QStringLiteral("/DATA/scope"); });
    QTest::mouseClick(Get<QPushButton>("browseDirButton"), Qt::LeftButton);
    EXPECT_EQ(ImageDir()->currentText(), "/data/scope/long");
    m_form->TakeValues();
    EXPECT_EQ(m_form->GetImageDir(), "/data/scope/long");

    m_form->SetDirectoryPicker([](QWidget*, const QString&) { return QStringLiteral("/fresh"); });
    QTest::mouseClick(Get<QPushButton>("browseDirButton"), Qt::LeftButton);
    EXPECT_EQ(ImageDir()->currentText(), "/fresh");
    EXPECT_EQ(m_form->DirectoryHistory().size(), 2); // the browser leaves the history alone

    m_form->SetDirectoryPicker([](QWidget*, const QString&) { return QString(); }); // cancelled
    QTest::mouseClick(Get<QPushButton>("browseDirButton"), Qt::LeftButton);
    EXPECT_EQ(ImageDir()->currentText(), "/fresh");
}

TEST_F(UiFormTest, FailedChecksReportFocusTheFieldKeepLaterValuesAndStillSendTheRequest) {
    CreateForm();
    m_form->show();
    QApplication::setActiveWindow(m_form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_form.get()));
    QSignalSpy connectSpy(m_form.get(), &CUIForm::connectRequested);

    auto* sequence = Get<QLineEdit>("sequenceEdit");
    sequence->setText("123456789");
    Get<QLineEdit>("baseNameEdit")->setText("before");
    Get<QLineEdit>("commentsFileEdit")->setText("after.txt");
    QTest::mouseClick(Get<QPushButton>("connectButton"), Qt::LeftButton);

    EXPECT_EQ(m_messages, QStringList({"Please enter no more than 8 characters."}));
    EXPECT_EQ(QApplication::focusWidget(), sequence);
    EXPECT_EQ(connectSpy.count(), 1);
    EXPECT_EQ(m_form->GetBaseName(), "before");
    EXPECT_EQ(m_form->GetCommentsFile(), "Comments.txt");
    EXPECT_EQ(m_form->GetSequenceText(), "0001");

    sequence->setText("42");
    auto* delay = Get<QLineEdit>("captureDelayEdit");
    delay->setText("6001");
    Get<QCheckBox>("stopWhileCapturingCheck")->setChecked(true);
    m_messages.clear();
    EXPECT_FALSE(m_form->TakeValues());
    EXPECT_EQ(m_messages, QStringList({"Please enter an integer between 0 and 6000."}));
    EXPECT_EQ(QApplication::focusWidget(), delay);
    EXPECT_EQ(m_form->GetSequenceText(), "42");
    EXPECT_FALSE(m_form->GetStopWhileCapturing());

    delay->setText("6000");
    m_messages.clear();
    EXPECT_TRUE(m_form->TakeValues());
    EXPECT_TRUE(m_messages.isEmpty());
    EXPECT_EQ(m_form->GetCaptureDelay(), 6000u);
    EXPECT_TRUE(m_form->GetStopWhileCapturing());
}

TEST_F(UiFormTest, StashedCommentsComeBackWithGetLast) {
    CreateForm();
    auto* comments = Get<QPlainTextEdit>("commentsEdit");
    auto* getLast = Get<QPushButton>("getLastCommentsButton");

    m_form->StashComments(); // nothing to keep yet
    EXPECT_FALSE(getLast->isEnabled());

    comments->setPlainText("first line\nsecond line");
    m_form->TakeValues();
    m_form->StashComments();
    EXPECT_TRUE(comments->toPlainText().isEmpty());
    EXPECT_EQ(m_form->GetComments(), "");
    EXPECT_TRUE(getLast->isEnabled());

    m_form->StashComments(); // empty comments keep the earlier ones
    EXPECT_TRUE(getLast->isEnabled());
    QTest::mouseClick(getLast, Qt::LeftButton);
    EXPECT_EQ(comments->toPlainText(), "first line\nsecond line");
    EXPECT_EQ(m_form->GetComments(), "first line\nsecond line");
}

TEST_F(UiFormTest, StoredChoicesWithoutAnEntryLeaveTheListsWithoutSelection) {
    m_settingsDir.WriteRaw("Files/LastUsedGfxFormat", "TIFF"); // no codec for it
    m_settingsDir.WriteRaw("Files/SaveMode", 3);
    m_settingsDir.WriteRaw("Data/DataFileFormat", 5);
    CreateForm();
    EXPECT_EQ(Get<QComboBox>("imageFormatCombo")->currentIndex(), -1);
    EXPECT_EQ(m_form->GetImageFormatIndex(), -1);
    EXPECT_EQ(m_form->GetImageExtension(), "png");
    EXPECT_EQ(m_form->GetSaveModeIndex(), -1);
    EXPECT_EQ(Get<QComboBox>("dataFormatCombo")->currentIndex(), -1);
    EXPECT_EQ(m_form->GetDataFormat(), DataFormat::Dirfile);
    DestroyForm();
    EXPECT_EQ(m_settingsDir.ReadRaw("Files/SaveMode").toInt(), -1);
}

TEST_F(UiFormTest, OptionsAreSavedOnDestructionAndAFailedCheckKeepsTheLaterOldValues) {
    m_settingsDir.WriteRaw("Files/SaveMode", 7);
    CreateForm();
    EXPECT_EQ(m_form->GetSaveModeIndex(), 0);
    Get<QComboBox>("saveModeCombo")->setCurrentIndex(1);
    Get<QComboBox>("dataFormatCombo")->setCurrentIndex(1);
    Get<QCheckBox>("invertedGraticuleCheck")->setChecked(true);
    Get<QCheckBox>("saveIdnInCommentsCheck")->setChecked(true);
    Get<QLineEdit>("baseNameEdit")->setText("shot_%H%M");
    Get<QLineEdit>("sequenceEdit")->setText("far too long");
    Get<QLineEdit>("commentsFileEdit")->setText("not-taken.txt");
    DestroyForm();

    EXPECT_EQ(m_messages, QStringList({"Please enter no more than 8 characters."}));
    EXPECT_EQ(m_settingsDir.ReadRaw("Files/SaveMode").toInt(), 1);
    EXPECT_EQ(m_settingsDir.ReadRaw("Data/DataFileFormat").toInt(), 1);
    EXPECT_EQ(m_settingsDir.ReadRaw("Files/BaseName").toString(), "shot_%H%M");
    EXPECT_EQ(m_settingsDir.ReadRaw("Files/CommentsFileName").toString(), "Comments.txt");
    // Fields after the failing one keep their old values: the checks too.
    EXPECT_EQ(m_settingsDir.ReadRaw("Image/InvertedGraticule").toInt(), 0);
    EXPECT_EQ(m_settingsDir.ReadRaw("Instrument/SaveInstrIDinComments").toInt(), 0);
}

} // namespace
