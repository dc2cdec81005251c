#include "ui/settings_store.h"

#include <QDir>
#include <QSettings>

namespace {

const QString kOrganisation = QStringLiteral("Hollin");
const QString kApplication = QStringLiteral("Quarvel");

const QString kWindow = QStringLiteral("Window");
const QString kInstrument = QStringLiteral("Instrument");
const QString kFiles = QStringLiteral("Files");
const QString kImage = QStringLiteral("Image");
const QString kData = QStringLiteral("Data");

constexpr int kHistoryKeys = 10;

QString FindCaseInsensitive(const QStringList& names, const QString& wanted) {
    if (names.contains(wanted))
        return wanted;
    for (const QString& name : names) {
        if (name.compare(wanted, Qt::CaseInsensitive) == 0)
            return name;
    }
    return {};
}

QString HistorySection(HistoryKind kind) {
    return kind == HistoryKind::Addresses ? kInstrument : kFiles;
}

QString HistoryKey(HistoryKind kind, int index) {
    const QString prefix = kind == HistoryKind::Addresses ? QStringLiteral("VISAResource")
                                                          : QStringLiteral("RecentDir");
    return prefix + QString::number(index);
}

} // namespace

CSettingsStore::CSettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             kOrganisation, kApplication)) {}

CSettingsStore::~CSettingsStore() = default;

QString CSettingsStore::StoredKey(const QString& section, const QString& key) const {
    QString storedSection = FindCaseInsensitive(m_settings->childGroups(), section);
    if (storedSection.isEmpty())
        return section + QLatin1Char('/') + key;
    m_settings->beginGroup(storedSection);
    QString storedKey = FindCaseInsensitive(m_settings->childKeys(), key);
    m_settings->endGroup();
    return storedSection + QLatin1Char('/') + (storedKey.isEmpty() ? key : storedKey);
}

int CSettingsStore::ReadInt(const QString& section, const QString& key, int defaultValue) const {
    const QVariant value = m_settings->value(StoredKey(section, key));
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : defaultValue;
}

QString CSettingsStore::ReadString(const QString& section, const QString& key,
                                   const QString& defaultValue) const {
    const QVariant value = m_settings->value(StoredKey(section, key));
    return value.isValid() ? value.toString() : defaultValue;
}

std::optional<QByteArray> CSettingsStore::ReadBlob(const QString& section,
                                                   const QString& key) const {
    const QVariant value = m_settings->value(StoredKey(section, key));
    if (!value.isValid())
        return std::nullopt;
    return value.toByteArray();
}

bool CSettingsStore::Contains(const QString& section, const QString& key) const {
    return m_settings->contains(StoredKey(section, key));
}

void CSettingsStore::WriteInt(const QString& section, const QString& key, int value) {
    m_settings->setValue(StoredKey(section, key), value);
}

void CSettingsStore::WriteString(const QString& section, const QString& key, const QString& value) {
    m_settings->setValue(StoredKey(section, key), value);
}

void CSettingsStore::WriteBlob(const QString& section, const QString& key,
                               const QByteArray& value) {
    m_settings->setValue(StoredKey(section, key), value);
}

void CSettingsStore::Sync() {
    m_settings->sync();
}

PaneSizes LoadPaneSizes(const CSettingsStore& store) {
    PaneSizes sizes;
    sizes.uiWidth = store.ReadInt(kWindow, QStringLiteral("UIWidth"), sizes.uiWidth);
    sizes.picWidth = store.ReadInt(kWindow, QStringLiteral("PICWidth"), sizes.picWidth);
    sizes.splitterHeight =
        store.ReadInt(kWindow, QStringLiteral("SpliterHeight"), sizes.splitterHeight);
    sizes.stored = store.Contains(kWindow, QStringLiteral("UIWidth")) ||
                   store.Contains(kWindow, QStringLiteral("PICWidth")) ||
                   store.Contains(kWindow, QStringLiteral("SpliterHeight"));
    return sizes;
}

void SavePaneSizes(CSettingsStore& store, const PaneSizes& sizes) {
    store.WriteInt(kWindow, QStringLiteral("UIWidth"), sizes.uiWidth);
    store.WriteInt(kWindow, QStringLiteral("PICWidth"), sizes.picWidth);
    store.WriteInt(kWindow, QStringLiteral("SpliterHeight"), sizes.splitterHeight);
}

QByteArray LoadWindowPlacement(const CSettingsStore& store) {
    return store.ReadBlob(kWindow, QStringLiteral("WindowState")).value_or(QByteArray());
}

void SaveWindowPlacement(CSettingsStore& store, const QByteArray& placement) {
    store.WriteBlob(kWindow, QStringLiteral("WindowState"), placement);
}

FormOptions LoadFormOptions(const CSettingsStore& store) {
    FormOptions o;
    o.baseName = store.ReadString(kFiles, QStringLiteral("BaseName"), o.baseName);
    o.commentsFile = store.ReadString(kFiles, QStringLiteral("CommentsFileName"), o.commentsFile);
    o.invertedGraticule = store.ReadInt(kImage, QStringLiteral("InvertedGraticule"), 0) != 0;
    o.saveMode = store.ReadInt(kFiles, QStringLiteral("SaveMode"), o.saveMode);
    if (o.saveMode < 0 || o.saveMode > 3)
        o.saveMode = 0;
    o.saveIdnInComments =
        store.ReadInt(kInstrument, QStringLiteral("SaveInstrIDinComments"), 0) != 0;
    o.stopWhileCapturing = store.ReadInt(kInstrument, QStringLiteral("StopWhileCapturing"), 0) != 0;
    o.lastGfxFormat =
        store.ReadString(kFiles, QStringLiteral("LastUsedGfxFormat"), o.lastGfxFormat);
    o.dataFileFormat = store.ReadInt(kData, QStringLiteral("DataFileFormat"), o.dataFileFormat);
    return o;
}

void SaveFormOptions(CSettingsStore& store, const FormOptions& o) {
    store.WriteInt(kInstrument, QStringLiteral("SaveInstrIDinComments"), o.saveIdnInComments);
    store.WriteInt(kImage, QStringLiteral("InvertedGraticule"), o.invertedGraticule);
    store.WriteInt(kInstrument, QStringLiteral("StopWhileCapturing"), o.stopWhileCapturing);
    store.WriteInt(kFiles, QStringLiteral("SaveMode"), o.saveMode);
    store.WriteString(kFiles, QStringLiteral("BaseName"), o.baseName);
    store.WriteString(kFiles, QStringLiteral("CommentsFileName"), o.commentsFile);
    store.WriteString(kFiles, QStringLiteral("LastUsedGfxFormat"), o.lastGfxFormat);
    store.WriteInt(kData, QStringLiteral("DataFileFormat"), o.dataFileFormat);
}

VisaLibraryChoice LoadVisaLibraryChoice(const CSettingsStore& store) {
    VisaLibraryChoice choice;
    choice.path = store.ReadString(kInstrument, QStringLiteral("VisaLibrary"), {}).toStdString();
    choice.allResources = store.ReadInt(kInstrument, QStringLiteral("VisaLibraryForAll"), 0) == 1;
    return choice;
}

VisaLibraryChoice VisaLibraryInUse(const CSettingsStore& store) {
    VisaLibraryChoice library = VisaLibraryFromEnvironment();
    return library.path.empty() ? LoadVisaLibraryChoice(store) : library;
}

QStringList LoadHistory(const CSettingsStore& store, HistoryKind kind) {
    QStringList entries;
    for (int i = 0; i < kHistoryKeys; ++i) {
        const QString entry = store.ReadString(HistorySection(kind), HistoryKey(kind, i), {});
        if (entry.isEmpty())
            break;
        entries.append(entry);
    }
    return entries;
}

void SaveHistory(CSettingsStore& store, HistoryKind kind, const QStringList& entries) {
    for (int i = 0; i < entries.size(); ++i)
        store.WriteString(HistorySection(kind), HistoryKey(kind, i), entries[i]);
}

QString DefaultVisaAddress() {
    return QStringLiteral("TCPIP0::127.0.0.1::inst0::INSTR");
}

QString DefaultImageDirectory() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\temp");
#else
    // "C:\temp" names nothing useful here; the system's temporary directory
    // plays its part.
    return QDir::tempPath();
#endif
}
