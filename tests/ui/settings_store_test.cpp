#include "tests/ui/qt_app_fixture.h"
#include "ui/settings_store.h"

#include <gtest/gtest.h>

using quarvel::test::ScopedSettingsDir;

// The rest of the form's options and the histories go through the store in
// ui_form_test.cpp.
TEST(SettingsStore, ValuesSurviveARoundTripUnderTheirSectionsAndKeys) {
    ScopedSettingsDir dir;
    {
        CSettingsStore store;
        SavePaneSizes(store, {300, 700, 500});
        SaveWindowPlacement(store, QByteArray("\x01\x02\x00\xff", 4));
        FormOptions options;
        options.invertedGraticule = true;
        options.saveIdnInComments = true;
        options.stopWhileCapturing = true;
        SaveFormOptions(store, options);
        SaveHistory(store, HistoryKind::Directories, {"/data/shots"});
    }
    // The file is laid out with the sections and key names other versions use.
    EXPECT_EQ(dir.ReadRaw("Window/UIWidth").toInt(), 300);
    EXPECT_EQ(dir.ReadRaw("Window/SpliterHeight").toInt(), 500);
    EXPECT_EQ(dir.ReadRaw("Instrument/SaveInstrIDinComments").toInt(), 1);
    EXPECT_EQ(dir.ReadRaw("Files/RecentDir0").toString(), "/data/shots");
    EXPECT_EQ(dir.ReadRaw("Image/InvertedGraticule").toInt(), 1);

    const CSettingsStore store;
    const PaneSizes sizes = LoadPaneSizes(store);
    EXPECT_EQ(sizes.uiWidth, 300);
    EXPECT_EQ(sizes.picWidth, 700);
    EXPECT_TRUE(sizes.stored);
    EXPECT_EQ(LoadWindowPlacement(store), QByteArray("\x01\x02\x00\xff", 4));
    EXPECT_TRUE(LoadFormOptions(store).stopWhileCapturing);
}

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

TEST(SettingsStore, SaveModeOutOfRangeBecomesTheFirstEntryButThreeIsKept) {
    for (const auto& [stored, expected] : {std::pair{7, 0}, {-2, 0}, {3, 3}, {4, 0}, {1, 1}}) {
        ScopedSettingsDir dir;
        dir.WriteRaw("Files/SaveMode", stored);
        const CSettingsStore store;
        EXPECT_EQ(LoadFormOptions(store).saveMode, expected) << "stored " << stored;
    }
}
