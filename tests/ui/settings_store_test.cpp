#include "tests/ui/qt_app_fixture.h"
#include "ui/settings_store.h"

#include <gtest/gtest.h>

using quarvel::test::ScopedSettingsDir;

// The form's options and histories go through the store under the keys other
// versions use in ui_form_test.cpp, the window's placement and pane widths in
// main_frame_test.cpp; here what only the store does with the file.

TEST(SettingsStore, KeysAndSectionsAreFoundWhateverTheirLetterCase) {
    ScopedSettingsDir dir;
    dir.WriteRaw("WINDOW/PICWidth", "wide"); // unreadable: the default
    dir.WriteRaw("files/basename", "lower");
    dir.WriteRaw("WINDOW/uiwidth", 123);
    dir.WriteRaw("Instrument/visaresource0", "TCPIP0::x::INSTR");

    CSettingsStore store;
    EXPECT_EQ(LoadFormOptions(store).baseName, "lower");
    EXPECT_EQ(LoadPaneSizes(store).uiWidth, 123);
    EXPECT_TRUE(LoadPaneSizes(store).stored); // the window keeps the sizes of another version
    EXPECT_EQ(LoadPaneSizes(store).picWidth, 640);
    EXPECT_EQ(LoadHistory(store, HistoryKind::Addresses), QStringList({"TCPIP0::x::INSTR"}));

    // Writing goes to the stored spelling: one value per name, never two.
    store.WriteString("Files", "BaseName", "changed");
    store.Sync();
    EXPECT_EQ(dir.ReadRaw("files/basename").toString(), "changed");
    EXPECT_FALSE(dir.ReadRaw("Files/BaseName").isValid());
}

TEST(SettingsStore, HistoryStopsAtTheFirstGapAndSavingLeavesHigherEntriesAlone) {
    ScopedSettingsDir dir;
    dir.WriteRaw("Instrument/VISAResource0", "A");
    dir.WriteRaw("Instrument/VISAResource1", "B");
    dir.WriteRaw("Instrument/VISAResource2", "C");
    dir.WriteRaw("Instrument/VISAResource3", "");
    dir.WriteRaw("Instrument/VISAResource4", "E");

    CSettingsStore store;
    const QStringList loaded = LoadHistory(store, HistoryKind::Addresses);
    EXPECT_EQ(loaded, QStringList({"A", "B", "C"}));

    SaveHistory(store, HistoryKind::Addresses, {"C", "A", "B"});
    store.Sync();
    EXPECT_EQ(dir.ReadRaw("Instrument/VISAResource0").toString(), "C");
    EXPECT_EQ(dir.ReadRaw("Instrument/VISAResource2").toString(), "B");
    EXPECT_EQ(dir.ReadRaw("Instrument/VISAResource3").toString(), "");
    EXPECT_EQ(dir.ReadRaw("Instrument/VISAResource4").toString(), "E");
}
