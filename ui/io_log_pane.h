#pragma once

// The I/O log in the window: File > I/O Log... starts logging to a file the
// user picks (appended to, never overwritten) and stops it again, and the
// dockable pane View > I/O Log (hidden by default) shows the last
// operations as they happen. The log itself is the VISA layer's.

#include <QDockWidget>
#include <QString>

class QAction;
class QPlainTextEdit;

class CIoLogPane : public QDockWidget {
    Q_OBJECT
public:
    // The pane keeps this many lines, dropping the oldest.
    static constexpr int kShownLines = 500;

    explicit CIoLogPane(QWidget* parent);
    ~CIoLogPane() override;

    // File > I/O Log...: checked while a log runs.
    QAction* LogAction() const { return m_logAction; }
    QPlainTextEdit* Lines() const { return m_lines; }

    // Starts logging to path (the menu entry asks for it); false with the
    // reason shown in the pane's title bar tip when it cannot.
    bool StartLogging(const QString& path, bool withData, QString& error);
    void StopLogging();
    // Checks the menu entry when a log runs (QUARVEL_IO_LOG included).
    void UpdateState();

private:
    void OnLogAction(bool checked);
    void AppendLine(const QString& line);

    QAction* m_logAction = nullptr;
    QPlainTextEdit* m_lines = nullptr;
};
