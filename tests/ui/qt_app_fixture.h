#pragma once

#include "tests/support/temp_dir.h"

#include <QString>
#include <QVariant>

namespace quarvel::test {

// Points the per-user settings at a fresh temporary directory for as long as
// the object lives, so that every test starts from an empty store.
class ScopedSettingsDir {
public:
    ScopedSettingsDir();
    ~ScopedSettingsDir();
    ScopedSettingsDir(const ScopedSettingsDir&) = delete;
    ScopedSettingsDir& operator=(const ScopedSettingsDir&) = delete;

    // Writes a value straight into the store's file, under exactly the key
    // given ("Section/key"), as another program or an older version would.
    void WriteRaw(const QString& key, const QVariant& value) const;
    // Reads a value straight from the store's file; invalid when absent.
    QVariant ReadRaw(const QString& key) const;

private:
    TempDir m_dir;
};

} // namespace quarvel::test
