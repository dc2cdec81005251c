#pragma once

// The Find list beside the address box: the instruments the VISA layer finds
// (USB/IP servers, VXI-11 broadcast and probe, DNS-SD, the VISA library in
// use), each with its identification; choosing one gives its resource string
// to the address box. The search runs on a worker thread, so the window keeps painting and
// answering meanwhile; the ways it uses and the hosts it probes are settings
// (section "Find", keys "Methods" and "ProbeHosts").

#include "instr/instrument_finder.h"
#include "ui/settings_store.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>
#include <thread>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class CFindDialog : public QDialog {
    Q_OBJECT

public:
    // The search the dialog runs; quarvel::instr::FindInstruments unless a
    // test gives another.
    using Searcher = std::function<quarvel::instr::FindResult(const quarvel::instr::FindRequest&)>;

    // Reads the ways and probe hosts from store, which must outlive the
    // dialog; they are written back at each search.
    explicit CFindDialog(CSettingsStore& store, QWidget* parent = nullptr,
                         Searcher searcher = quarvel::instr::FindInstruments);
    // A search still running is cancelled and waited for (a few tens of
    // milliseconds; closing the list does not wait, see done()).
    ~CFindDialog() override;

    // Closing the list cancels its search. A list that goes when closed
    // (Qt::WA_DeleteOnClose) goes once the search's worker has ended, so
    // the window's thread never waits for it.
    void done(int result) override;

    // Starts a search with the ways and hosts shown; ignored while one runs.
    void StartSearch();
    bool IsSearching() const { return m_worker.joinable() && !m_done; }
    // The resource chosen when the dialog was accepted.
    const QString& ChosenResource() const { return m_chosen; }

signals:
    // A search has ended and its rows are shown.
    void searchFinished();

private:
    void ShowResult(const quarvel::instr::FindResult& result);
    void Choose();
    QString MethodsShown() const;

    CSettingsStore& m_store;
    Searcher m_searcher;
    QCheckBox* m_broadcastCheck = nullptr;
    QCheckBox* m_probeCheck = nullptr;
    QCheckBox* m_dnssdCheck = nullptr;
    QCheckBox* m_usbCheck = nullptr;
    QCheckBox* m_libraryCheck = nullptr;
    QLineEdit* m_probeEdit = nullptr;
    QPushButton* m_searchButton = nullptr;
    QPushButton* m_chooseButton = nullptr;
    QTableWidget* m_table = nullptr;
    QLabel* m_status = nullptr;
    QString m_chosen;
    std::thread m_worker;
    std::shared_ptr<quarvel::instr::FindCanceller> m_canceller;
    bool m_done = true;
    bool m_deleteWhenDone = false;
};
