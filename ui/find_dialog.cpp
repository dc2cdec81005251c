#include "ui/find_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdlib>

namespace {

const QString kSection = QStringLiteral("Find");
const QString kMethodsKey = QStringLiteral("Methods");
const QString kProbeHostsKey = QStringLiteral("ProbeHosts");

// The ways to look at first: the stored setting, else those the
// QUARVEL_DISCOVERY environment variable names (as the library would use),
// else all.
QStringList InitialMethods(const CSettingsStore& store) {
    QString text = store.ReadString(kSection, kMethodsKey, QString());
    if (text.isNull())
        if (const char* env = std::getenv("QUARVEL_DISCOVERY"); env != nullptr)
            text = QString::fromUtf8(env);
    if (text.isNull())
        return {QStringLiteral("broadcast"), QStringLiteral("probe"), QStringLiteral("dnssd"),
                QStringLiteral("usb"), QStringLiteral("library")};
    return text.toLower().split(QLatin1Char(','), Qt::SkipEmptyParts);
}

QCheckBox* MakeMethodCheck(QWidget* parent, const QString& caption, const QString& method,
                           const QStringList& initial) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(method + QStringLiteral("Check"));
    check->setChecked(initial.contains(method));
    return check;
}

} // namespace

CFindDialog::CFindDialog(CSettingsStore& store, QWidget* parent, Searcher searcher)
    : QDialog(parent), m_store(store), m_searcher(std::move(searcher)) {
    setObjectName(QStringLiteral("findDialog"));
    setWindowTitle(QStringLiteral("Find instruments"));
    const QStringList methods = InitialMethods(store);
    m_broadcastCheck = MakeMethodCheck(this, QStringLiteral("LAN broadcast"),
                                       QStringLiteral("broadcast"), methods);
    m_probeCheck =
        MakeMethodCheck(this, QStringLiteral("Probe hosts:"), QStringLiteral("probe"), methods);
    m_dnssdCheck =
        MakeMethodCheck(this, QStringLiteral("DNS-SD"), QStringLiteral("dnssd"), methods);
    m_usbCheck = MakeMethodCheck(this, QStringLiteral("USB"), QStringLiteral("usb"), methods);
    m_libraryCheck =
        MakeMethodCheck(this, QStringLiteral("VISA library"), QStringLiteral("library"), methods);
    m_libraryCheck->setToolTip(QStringLiteral("What the VISA library named in the settings "
                                              "([Instrument] VisaLibrary) lists itself"));
    m_probeEdit = new QLineEdit(store.ReadString(kSection, kProbeHostsKey, QString()), this);
    m_probeEdit->setObjectName(QStringLiteral("probeHostsEdit"));
    m_probeEdit->setPlaceholderText(QStringLiteral("192.168.1.0/24, 10.0.0.5-10.0.0.9"));
    m_searchButton = new QPushButton(QStringLiteral("Search"), this);
    m_searchButton->setObjectName(QStringLiteral("searchButton"));
    m_searchButton->setAutoDefault(false);

    m_table = new QTableWidget(0, 2, this);
    m_table->setObjectName(QStringLiteral("foundTable"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Resource"), QStringLiteral("Identification")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("findStatus"));
    m_status->setTextFormat(Qt::PlainText);
    // Without word wrap the label asks for the height of all its lines.
    m_status->setWordWrap(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_chooseButton = buttons->button(QDialogButtonBox::Ok);
    m_chooseButton->setText(QStringLiteral("Use address"));
    m_chooseButton->setEnabled(false);

    auto* ways = new QGridLayout;
    ways->addWidget(m_broadcastCheck, 0, 0);
    ways->addWidget(m_dnssdCheck, 0, 1);
    ways->addWidget(m_usbCheck, 0, 2);
    ways->addWidget(m_libraryCheck, 0, 3);
    ways->addWidget(m_probeCheck, 1, 0);
    ways->addWidget(m_probeEdit, 1, 1, 1, 3);
    ways->addWidget(m_searchButton, 0, 4, 2, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(ways);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_status);
    layout->addWidget(buttons);
    resize(660, 400);

    connect(m_searchButton, &QPushButton::clicked, this, &CFindDialog::StartSearch);
    connect(buttons, &QDialogButtonBox::accepted, this, &CFindDialog::Choose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_table, &QTableWidget::itemSelectionChanged, this,
            [this] { m_chooseButton->setEnabled(!m_table->selectedItems().isEmpty()); });
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this] { Choose(); });
}

CFindDialog::~CFindDialog() {
    if (m_canceller)
        m_canceller->Cancel();
    if (m_worker.joinable())
        m_worker.join();
}

void CFindDialog::done(int result) {
    if (m_canceller)
        m_canceller->Cancel();
    // Qt would delete the list as it closes; while its worker runs, that
    // waits for ShowResult, the worker's last word.
    if (IsSearching() && testAttribute(Qt::WA_DeleteOnClose)) {
        setAttribute(Qt::WA_DeleteOnClose, false);
        m_deleteWhenDone = true;
    }
    QDialog::done(result);
}

QString CFindDialog::MethodsShown() const {
    QStringList methods;
    const std::pair<QCheckBox*, const char*> checks[] = {{m_broadcastCheck, "broadcast"},
                                                         {m_probeCheck, "probe"},
                                                         {m_dnssdCheck, "dnssd"},
                                                         {m_usbCheck, "usb"},
                                                         {m_libraryCheck, "library"}};
    for (const auto& [check, name] : checks)
        if (check->isChecked())
            methods.append(QString::fromLatin1(name));
    return methods.join(QLatin1Char(','));
}

void CFindDialog::StartSearch() {
    if (IsSearching())
        return;
    if (m_worker.joinable())
        m_worker.join(); // the last search, already done
    const QString methods = MethodsShown();
    const QString hosts = m_probeEdit->text().remove(QLatin1Char(' '));
    m_store.WriteString(kSection, kMethodsKey, methods);
    m_store.WriteString(kSection, kProbeHostsKey, hosts);
    m_table->setRowCount(0);
    m_chooseButton->setEnabled(false);
    if (methods.isEmpty()) {
        m_status->setText(QStringLiteral("Choose at least one way to look."));
        emit searchFinished();
        return;
    }
    quarvel::instr::FindRequest request;
    request.methods = methods.toStdString();
    if (m_probeCheck->isChecked())
        request.probeHosts = hosts.toStdString();
    request.identify = true;
    request.visaLibrary = VisaLibraryInUse(m_store);
    m_canceller = std::make_shared<quarvel::instr::FindCanceller>();
    request.cancel = m_canceller;
    m_status->setText(QStringLiteral("Searching…"));
    m_searchButton->setEnabled(false);
    m_done = false;
    m_worker = std::thread([this, request] {
        quarvel::instr::FindResult result = m_searcher(request);
        // Queued to the dialog's thread; the destructor waits for this
        // thread, so the dialog is still there when it is posted.
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)] { ShowResult(result); }, Qt::QueuedConnection);
    });
}

void CFindDialog::ShowResult(const quarvel::instr::FindResult& result) {
    m_done = true;
    if (m_deleteWhenDone) {
        deleteLater();
        return;
    }
    m_searchButton->setEnabled(true);
    m_table->setRowCount(static_cast<int>(result.instruments.size()));
    int row = 0;
    for (const quarvel::instr::FoundInstrument& found : result.instruments) {
        m_table->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(found.resource)));
        m_table->setItem(row, 1,
                         new QTableWidgetItem(QString::fromStdString(found.identification)));
        ++row;
    }
    m_table->resizeColumnToContents(0);
    QString status;
    if (result.status == VI_ERROR_NSUP_ATTR_STATE)
        status = QStringLiteral("The hosts to probe are not IPv4 addresses, ranges "
                                "(10.0.0.1-10.0.0.9), networks (192.168.1.0/24) or host names, "
                                "4096 hosts at most.");
    else if (result.status == VI_ERROR_ABORT)
        status = QStringLiteral("Search cancelled.");
    else if (result.status != VI_SUCCESS)
        status = QStringLiteral("The search failed: %1")
                     .arg(QString::fromLatin1(qviStatusName(result.status)));
    else
        status = result.instruments.empty() ? QStringLiteral("No instrument found.")
                                            : QStringLiteral("%1 found.").arg(row);
    // What each way did, for when an instrument is missing.
    const QString report = QString::fromStdString(result.report).trimmed();
    m_status->setText(report.isEmpty() ? status : status + QLatin1Char('\n') + report);
    emit searchFinished();
}

void CFindDialog::Choose() {
    const QList<QTableWidgetItem*> selected = m_table->selectedItems();
    if (selected.isEmpty())
        return;
    m_chosen = m_table->item(selected.first()->row(), 0)->text();
    accept();
}
