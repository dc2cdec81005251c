#include "ui/io_log_pane.h"

#include "instr/io_log_control.h"

#include <QAction>
#include <QFileDialog>
#include <QFontDatabase>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>

CIoLogPane::CIoLogPane(QWidget* parent) : QDockWidget(QStringLiteral("I/O Log"), parent) {
    setObjectName(QStringLiteral("ioLogPane"));
    m_lines = new QPlainTextEdit(this);
    m_lines->setObjectName(QStringLiteral("ioLogLines"));
    m_lines->setReadOnly(true);
    m_lines->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_lines->setMaximumBlockCount(kShownLines);
    m_lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setWidget(m_lines);
    toggleViewAction()->setObjectName(QStringLiteral("ioLogPaneAction"));
    toggleViewAction()->setStatusTip(QStringLiteral("Show or hide the last VISA operations"));

    m_logAction = new QAction(QStringLiteral("I/O &Log..."), this);
    m_logAction->setObjectName(QStringLiteral("ioLogAction"));
    m_logAction->setCheckable(true);
    m_logAction->setStatusTip(
        QStringLiteral("Write every VISA operation to a file, for a bug report or a replay"));
    connect(m_logAction, &QAction::triggered, this, &CIoLogPane::OnLogAction);

    // Lines come on the thread of the VISA call; the pane takes them on its
    // own, and none after it has gone.
    QPointer<CIoLogPane> self(this);
    quarvel::instr::SetIoLogSink([self](const std::string& line) {
        const QString text = QString::fromStdString(line);
        if (self)
            QMetaObject::invokeMethod(
                self.data(),
                [self, text] {
                    if (self)
                        self->AppendLine(text);
                },
                Qt::QueuedConnection);
    });
    hide();
    UpdateState();
}

CIoLogPane::~CIoLogPane() {
    quarvel::instr::SetIoLogSink({});
}

bool CIoLogPane::StartLogging(const QString& path, bool withData, QString& error) {
    std::string reason;
    const bool started = quarvel::instr::StartIoLog(path.toStdString(), withData, reason);
    error = QString::fromStdString(reason);
    UpdateState();
    return started;
}

void CIoLogPane::StopLogging() {
    quarvel::instr::StopIoLog();
    UpdateState();
}

void CIoLogPane::UpdateState() {
    const QString path = QString::fromStdString(quarvel::instr::IoLogPath());
    m_logAction->setChecked(!path.isEmpty());
    setWindowTitle(path.isEmpty() ? QStringLiteral("I/O Log (not logging)")
                                  : QStringLiteral("I/O Log: ") + path);
}

void CIoLogPane::OnLogAction(bool checked) {
    if (!checked) {
        StopLogging();
        return;
    }
    // Appended to when it exists, so the dialog does not ask to overwrite.
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("I/O Log"), QString(),
                                     QStringLiteral("I/O logs (*.log);;All files (*)"), nullptr,
                                     QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) {
        UpdateState();
        return;
    }
    // Binary payloads are kept beside the log so that it can be replayed.
    QString error;
    if (!StartLogging(path, true, error))
        QMessageBox::critical(this, QStringLiteral("Quarvel"),
                              QStringLiteral("Cannot write the I/O log: ") + error);
}

void CIoLogPane::AppendLine(const QString& line) {
    m_lines->appendPlainText(line);
}
