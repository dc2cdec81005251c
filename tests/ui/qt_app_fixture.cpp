#include "tests/ui/qt_app_fixture.h"

#include <QApplication>
#include <QSettings>
#include <gtest/gtest.h>

#include <memory>

namespace {

// The widgets need one QApplication for the whole test program; gtest's own
// main runs the tests, so the application is made by a global environment.
class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // ctest sets the offscreen platform; a test started by hand gets it too.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        m_app = std::make_unique<QApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[16] = "quarvel_ui_test";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] ::testing::Environment* const g_qtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

QSettings RawSettings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Hollin"),
                     QStringLiteral("Quarvel"));
}

} // namespace

namespace quarvel::test {

ScopedSettingsDir::ScopedSettingsDir() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(m_dir.Path()));
}

ScopedSettingsDir::~ScopedSettingsDir() = default;

void ScopedSettingsDir::WriteRaw(const QString& key, const QVariant& value) const {
    QSettings settings = RawSettings();
    settings.setValue(key, value);
    settings.sync();
}

QVariant ScopedSettingsDir::ReadRaw(const QString& key) const {
    return RawSettings().value(key);
}

} // namespace quarvel::test
