#pragma once

#include "tests/support/temp_dir.h"

#include <QObject>
#include <QString>
#include <QVariant>
#include <gtest/gtest.h>

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

// The child of `parent` named `name`; a failure of the test when there is none.
template <typename T> T* Child(const QObject* parent, const char* name) {
    T* widget = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

} // namespace quarvel::test
