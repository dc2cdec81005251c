// The window's Find list, with real Qt widgets (offscreen): a simulator on
// loopback found by unicast probe, its identification shown and its address
// put into the address box, while the search runs on its own thread. The
// probe over a range of hosts, several found, is quarvel-cli list's test
// (tests/cli/cli_list_test.cpp); both go through FindInstruments.

#include "tests/support/sim_process.h"
#include "tests/ui/qt_app_fixture.h"
#include "ui/find_dialog.h"
#include "ui/settings_store.h"
#include "ui/ui_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quarvel::test {
namespace {

TEST(FindDialog, FindsASimulatorByProbeAndFillsTheAddressBox) {
    const std::string net = OwnLoopbackNet();
    SimProcess tek({"--instrument", "tektronix", "--address", net + "3"});
    ASSERT_TRUE(tek.Started()) << tek.Output();
    setenv("QUARVEL_PORTMAPPER_PORT", std::to_string(tek.PortmapperPort()).c_str(), 1);

    ScopedSettingsDir settingsDir;
    auto store = std::make_unique<CSettingsStore>();
    auto form = std::make_unique<CUIForm>(*store);
    form->InitialUpdate();
    form->InitialUpdate();
    auto* address = Child<QComboBox>(form.get(), "visaAddressCombo");
    const QStringList history = form->AddressHistory();

    Child<QPushButton>(form.get(), "findButton")->click();
    auto* dialog = form->findChild<CFindDialog*>();
    ASSERT_NE(dialog, nullptr);
    // The test programs look by USB only (QUARVEL_DISCOVERY), and the dialog
    // starts with the ways the library would use.
    EXPECT_TRUE(Child<QCheckBox>(dialog, "usbCheck")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(dialog, "broadcastCheck")->isChecked());
    QSignalSpy finished(dialog, &CFindDialog::searchFinished);
    ASSERT_TRUE(finished.wait(10000));

    Child<QCheckBox>(dialog, "usbCheck")->setChecked(false);
    Child<QCheckBox>(dialog, "probeCheck")->setChecked(true);
    // The host named answers, so the search need not wait out its second.
    const QString hosts = QString::fromStdString(net + "3");
    Child<QLineEdit>(dialog, "probeHostsEdit")->setText(hosts);
    Child<QPushButton>(dialog, "searchButton")->click();
    // The search runs on its own thread: the click returned at once, and
    // the window goes on handling events before the answers come.
    EXPECT_TRUE(dialog->IsSearching());
    EXPECT_FALSE(Child<QPushButton>(dialog, "searchButton")->isEnabled());
    bool handledMeanwhile = false;
    QTimer::singleShot(0, [&] { handledMeanwhile = dialog->IsSearching(); });
    ASSERT_TRUE(finished.wait(10000));
    EXPECT_TRUE(handledMeanwhile);

    auto* table = Child<QTableWidget>(dialog, "foundTable");
    ASSERT_EQ(table->rowCount(), 1) << Child<QLabel>(dialog, "findStatus")->text().toStdString();
    const QString tekResource = QString::fromStdString("TCPIP0::" + net + "3::inst0::INSTR");
    EXPECT_EQ(table->item(0, 0)->text(), tekResource);
    EXPECT_TRUE(table->item(0, 1)->text().startsWith(QStringLiteral("TEKTRONIX,TDS")))
        << table->item(0, 1)->text().toStdString();
    EXPECT_TRUE(Child<QLabel>(dialog, "findStatus")->text().startsWith(QStringLiteral("1 found.")));

    table->selectRow(0);
    // The README's picture: QUARVEL_FIND_SCREENSHOT=file.png, under xvfb-run.
    if (const char* shot = std::getenv("QUARVEL_FIND_SCREENSHOT")) {
        QCoreApplication::processEvents(); // the layout's update after the new rows
        dialog->grab().save(QString::fromLocal8Bit(shot));
    }
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(address->currentText(), tekResource);
    // The history takes an address when a connection to it succeeds.
    EXPECT_EQ(form->AddressHistory(), history);
    EXPECT_FALSE(dialog->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(form->findChild<CFindDialog*>(), nullptr); // closed lists go
    // The ways and hosts are settings: the next Find list starts with them.
    store->Sync();
    EXPECT_EQ(settingsDir.ReadRaw(QStringLiteral("Find/Methods")).toString(),
              QStringLiteral("probe"));
    EXPECT_EQ(settingsDir.ReadRaw(QStringLiteral("Find/ProbeHosts")).toString(), hosts);
    unsetenv("QUARVEL_PORTMAPPER_PORT");
}

TEST(FindDialog, ListsWhatTheVisaLibraryInUseFinds) {
    // The window's library (here from the environment) lists its own
    // resources, identified through it, when its way is ticked.
    setenv("QUARVEL_VISA_LIBRARY", QUARVEL_FAKE_VENDOR_VISA, 1);
    setenv("QUARVEL_DISCOVERY", "library", 1);
    ScopedSettingsDir settingsDir;
    CSettingsStore store;
    CFindDialog dialog(store);
    EXPECT_TRUE(Child<QCheckBox>(&dialog, "libraryCheck")->isChecked());
    QSignalSpy finished(&dialog, &CFindDialog::searchFinished);
    dialog.StartSearch();
    ASSERT_TRUE(finished.wait(10000));
    auto* table = Child<QTableWidget>(&dialog, "foundTable");
    ASSERT_EQ(table->rowCount(), 2) << Child<QLabel>(&dialog, "findStatus")->text().toStdString();
    EXPECT_EQ(table->item(0, 0)->text(), QStringLiteral("GPIB0::7::INSTR"));
    EXPECT_EQ(table->item(0, 1)->text(), QStringLiteral("FAKE VENDOR,GPIB BENCH METER,0,1.0"));
    EXPECT_EQ(table->item(1, 0)->text(), QStringLiteral("ASRL1::INSTR"));
    unsetenv("QUARVEL_VISA_LIBRARY");
    setenv("QUARVEL_DISCOVERY", "usb", 1);
}

TEST(FindDialog, ClosingTheListEndsItsSearchAtOnce) {
    // A "portmapper" that takes the probe's GETPORT and never answers; the
    // search would listen for 20 s.
    const int silent = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length), 0);
    setenv("QUARVEL_PORTMAPPER_PORT", std::to_string(ntohs(address.sin_port)).c_str(), 1);
    setenv("QUARVEL_DISCOVERY", "probe", 1);
    ScopedSettingsDir settingsDir;
    CSettingsStore store;
    auto* dialog = new CFindDialog(store, nullptr, [](quarvel::instr::FindRequest request) {
        request.timeoutMs = 20000;
        return quarvel::instr::FindInstruments(request);
    });
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    Child<QLineEdit>(dialog, "probeHostsEdit")->setText(QStringLiteral("127.0.0.1"));
    dialog->StartSearch();
    char datagram[512];
    pollfd asked{silent, POLLIN, 0};
    ASSERT_EQ(poll(&asked, 1, 5000), 1); // the search is listening
    EXPECT_GT(recv(silent, datagram, sizeof datagram, 0), 0);
    ASSERT_TRUE(dialog->IsSearching());

    QSignalSpy destroyed(dialog, &QObject::destroyed);
    QElapsedTimer closing;
    closing.start();
    dialog->reject();
    EXPECT_LT(closing.elapsed(), 5000); // the window's thread did not wait
    // The list goes once its search has ended: well before the 20 s.
    EXPECT_TRUE(destroyed.wait(5000));
    close(silent);
    unsetenv("QUARVEL_PORTMAPPER_PORT");
    setenv("QUARVEL_DISCOVERY", "usb", 1);
}

} // namespace
} // namespace quarvel::test
