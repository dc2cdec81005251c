#pragma once

#include "instr/visa_library_choice.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QSettings;

// The per-user settings store: sections of named integers, texts and blobs
// under the organisation "Hollin" and the application "Quarvel". Key and
// section names match without regard to case, as on the platforms whose
// stores are case-insensitive; QSettings itself is case-sensitive here.
//
// This is the only place that knows the sections, key names and defaults.
class CSettingsStore {
public:
    CSettingsStore();
    ~CSettingsStore();
    CSettingsStore(const CSettingsStore&) = delete;
    CSettingsStore& operator=(const CSettingsStore&) = delete;

    int ReadInt(const QString& section, const QString& key, int defaultValue) const;
    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    std::optional<QByteArray> ReadBlob(const QString& section, const QString& key) const;
    bool Contains(const QString& section, const QString& key) const;

    // Write failures are not reported: the store keeps what it can.
    void WriteInt(const QString& section, const QString& key, int value);
    void WriteString(const QString& section, const QString& key, const QString& value);
    void WriteBlob(const QString& section, const QString& key, const QByteArray& value);

    // Pushes pending writes to the backing file.
    void Sync();

private:
    // The stored spelling of `section`/`key`, or the given one when absent.
    QString StoredKey(const QString& section, const QString& key) const;
    std::unique_ptr<QSettings> m_settings;
};

// Pane sizes of the main window, in pixels.
struct PaneSizes {
    int uiWidth = 455;
    int picWidth = 640;
    int splitterHeight = 480;
    // False on a first run: none of the three was stored.
    bool stored = false;
};

// The form's options that survive a restart.
struct FormOptions {
    QString baseName = QStringLiteral("Screenshot");
    QString commentsFile = QStringLiteral("Comments.txt");
    bool invertedGraticule = false;
    int saveMode = 0; // 0..2 a list entry, 3 no selection
    bool saveIdnInComments = false;
    bool stopWhileCapturing = false;
    QString lastGfxFormat = QStringLiteral("PNG");
    int dataFileFormat = 0;
};

enum class HistoryKind { Addresses, Directories };

PaneSizes LoadPaneSizes(const CSettingsStore& store);
void SavePaneSizes(CSettingsStore& store, const PaneSizes& sizes);

// Empty when no placement was stored.
QByteArray LoadWindowPlacement(const CSettingsStore& store);
void SaveWindowPlacement(CSettingsStore& store, const QByteArray& placement);

FormOptions LoadFormOptions(const CSettingsStore& store);
void SaveFormOptions(CSettingsStore& store, const FormOptions& options);

// Entries 0, 1, ... up to ten, stopping at the first missing or empty one.
QStringList LoadHistory(const CSettingsStore& store, HistoryKind kind);
// Writes entries 0 .. size-1; stored entries beyond the list are left alone.
void SaveHistory(CSettingsStore& store, HistoryKind kind, const QStringList& entries);

// The VISA library the window passes resources to: [Instrument] VisaLibrary
// (a path; empty or missing: none) and VisaLibraryForAll (1: every resource,
// otherwise those Quarvel does not open itself). The user writes them; the
// window never does.
VisaLibraryChoice LoadVisaLibraryChoice(const CSettingsStore& store);
// The library the window uses: the environment's for this run
// (QUARVEL_VISA_LIBRARY), else the settings'.
VisaLibraryChoice VisaLibraryInUse(const CSettingsStore& store);

// Fallbacks when a history is empty.
QString DefaultVisaAddress();
QString DefaultImageDirectory();
