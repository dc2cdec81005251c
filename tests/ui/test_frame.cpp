#include "tests/ui/test_frame.h"

#include "ui/ui_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

namespace quarvel::test {

TestFrame::TestFrame() {
    ControlForm().SetValidationReporter([this](const QString& text) {
        messages.emplace_back(text.toStdString(), MessageIcon::Warning);
    });
}

void TestFrame::ShowMessage(const std::string& text, MessageIcon icon) {
    messages.emplace_back(text, icon);
}

bool TestFrame::AskSaveFileName(const SaveDialogRequest&, std::string& path) {
    ++saveDialogs;
    path = savePath;
    return !savePath.empty();
}

bool TestFrame::TransferProgress(std::uint64_t done, std::uint64_t expected) {
    if (duringTransfer)
        duringTransfer(done, expected);
    return CMainFrame::TransferProgress(done, expected);
}

QString TestFrame::Status() const {
    return statusBar()->currentMessage();
}

bool TestFrame::ConnectTo(const std::string& address) {
    Get<QComboBox>("visaAddressCombo")->setEditText(QString::fromStdString(address));
    QTest::mouseClick(Get<QPushButton>("connectButton"), Qt::LeftButton);
    return Controller().HasDriver();
}

void TestFrame::SaveInto(const std::string& dir, bool stopWhileCapturing) {
    Get<QComboBox>("imageDirCombo")->setEditText(QString::fromStdString(dir));
    Get<QComboBox>("saveModeCombo")->setCurrentIndex(0);
    Get<QCheckBox>("stopWhileCapturingCheck")->setChecked(stopWhileCapturing);
}

} // namespace quarvel::test
