#include "ui/ui_form.h"

#include "ui/find_dialog.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kDisconnectedIdn = QStringLiteral("<Instrument disconnected>");
constexpr int kMaxSequenceChars = 8;
constexpr std::uint32_t kMaxCaptureDelay = 6000;
constexpr int kAddressHistoryLimit = 5;
constexpr int kDirectoryHistoryLimit = 10;

QString ToQString(const std::string& text) {
    return QString::fromStdString(text);
}
std::string ToUtf8(const QString& text) {
    return text.toStdString();
}

// Editable drop-downs show the first entry that begins with the value,
// whatever its letter case, in full; the value itself only when none does.
void ShowInEditableCombo(QComboBox* combo, const QString& value) {
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).startsWith(value, Qt::CaseInsensitive)) {
            combo->setCurrentIndex(i);
            combo->setEditText(combo->itemText(i));
            return;
        }
    }
    combo->setEditText(value);
}

// Moves or inserts `entry` at the top, keeping at most `limit` entries. The
// typed text in the box stays as it is: the next exchange shows the values.
void PutOnTopOfHistory(QComboBox* combo, const QString& entry, int limit) {
    const QString typed = combo->currentText();
    int found = -1;
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).compare(entry, Qt::CaseInsensitive) == 0) {
            found = i;
            break;
        }
    }
    if (found >= 0) {
        combo->removeItem(found);
        combo->insertItem(0, entry);
    } else {
        combo->insertItem(0, entry);
        if (combo->count() > limit)
            combo->removeItem(limit);
    }
    combo->setEditText(typed);
}

QStringList ComboEntries(const QComboBox* combo) {
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries.append(combo->itemText(i));
    return entries;
}

// Fills an empty drop-down with its stored history. The value becomes the
// first entry, shown selected; without history, the default, typed in the box.
void FillFromHistory(QComboBox* combo, const QStringList& history, const QString& fallback,
                     QString& value) {
    combo->addItems(history);
    if (history.isEmpty()) {
        value = fallback;
        combo->setEditText(value);
    } else {
        value = history.first();
        combo->setCurrentIndex(0);
    }
}

QComboBox* MakeEditableCombo(QWidget* parent, const QString& objectName) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(objectName);
    combo->setEditable(true);
    // Entries come only from the histories, never from typing Enter, and the
    // text stays exactly as typed.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    // Long addresses and paths must not widen the pane: the box scrolls.
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(12);
    return combo;
}

QCheckBox* MakeCheck(QWidget* parent, const QString& caption, const QString& objectName) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(objectName);
    return check;
}

QLineEdit* MakeEdit(QWidget* parent, const QString& objectName) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(objectName);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const QString& caption, const QString& objectName) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(objectName);
    button->setAutoDefault(false);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const QString& caption) {
    auto* label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// The identification is kept with "&" doubled, as a label caption would need
// it; the label here shows plain text.
QString EscapeAmpersands(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return escaped;
}

QString UnescapeAmpersands(const QString& text) {
    QString plain = text;
    plain.replace(QStringLiteral("&&"), QStringLiteral("&"));
    return plain;
}

} // namespace

CUIForm::CUIForm(CSettingsStore& store, QWidget* parent)
    : QWidget(parent), m_store(store), m_idnText(kDisconnectedIdn) {
    setObjectName(QStringLiteral("controlForm"));
    const FormOptions options = LoadFormOptions(m_store);
    m_baseName = options.baseName;
    m_commentsFile = options.commentsFile;
    m_invertedGraticule = options.invertedGraticule;
    m_saveMode = options.saveMode;
    m_saveIdnInComments = options.saveIdnInComments;
    m_stopWhileCapturing = options.stopWhileCapturing;
    m_lastGfxFormat = options.lastGfxFormat;
    m_dataFileFormat = options.dataFileFormat;

    m_validationReporter = [this](const QString& message) {
        QMessageBox::warning(this, QStringLiteral("Quarvel"), message);
    };
    m_directoryPicker = [](QWidget* owner, const QString& current) {
        return QFileDialog::getExistingDirectory(owner, QStringLiteral("Browse for save directory"),
                                                 current);
    };
    BuildControls();
    SetTabOrder();
}

CUIForm::~CUIForm() {
    SaveOptions();
}

void CUIForm::BuildControls() {
    m_optionsArea = new QScrollArea(this);
    m_optionsArea->setObjectName(QStringLiteral("controlFormOptions"));
    auto* page = new QWidget(m_optionsArea);
    m_optionsPage = page;
    page->setObjectName(QStringLiteral("controlFormPage"));
    // The form's arrangement was made for a compact 8-point dialog font; the
    // desktop's default font is wider, so the form uses a point and a half less.
    QFont compact = page->font();
    if (compact.pointSizeF() > 8.0)
        compact.setPointSizeF(compact.pointSizeF() - 1.5);
    page->setFont(compact);
    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(6, 6, 6, 6);

    // Instrument.
    auto* instrumentGroup = new QGroupBox(QStringLiteral("Instrument"), page);
    instrumentGroup->setObjectName(QStringLiteral("instrumentGroup"));
    auto* instrumentGrid = new QGridLayout(instrumentGroup);
    instrumentGrid->setContentsMargins(6, 6, 6, 6);
    m_addressCombo = MakeEditableCombo(instrumentGroup, QStringLiteral("visaAddressCombo"));
    m_idnLabel = MakeLabel(instrumentGroup, m_idnText);
    m_idnLabel->setObjectName(QStringLiteral("idnLabel"));
    m_idnLabel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_idnLabel->setAlignment(Qt::AlignCenter);
    m_idnLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long identification is cut at the pane's edge instead of widening it.
    m_idnLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_idnLabel->setMinimumWidth(1);
    m_connectButton = MakeButton(instrumentGroup, QStringLiteral("Connect instrument"),
                                 QStringLiteral("connectButton"));
    m_saveIdnCheck =
        MakeCheck(instrumentGroup, QStringLiteral("Save instrument identification with comments"),
                  QStringLiteral("saveIdnInCommentsCheck"));
    instrumentGrid->addWidget(MakeLabel(instrumentGroup, QStringLiteral("VISA address")), 0, 0);
    m_findButton =
        MakeButton(instrumentGroup, QStringLiteral("Find…"), QStringLiteral("findButton"));
    m_findButton->setToolTip(QStringLiteral("Find instruments on the LAN and USB"));
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(m_addressCombo, 1);
    addressRow->addWidget(m_findButton);
    instrumentGrid->addLayout(addressRow, 0, 1, 1, 2);
    instrumentGrid->addWidget(MakeLabel(instrumentGroup, QStringLiteral("*IDN? string")), 1, 0);
    instrumentGrid->addWidget(m_idnLabel, 1, 1, 1, 2);
    instrumentGrid->addWidget(m_connectButton, 2, 0, 1, 1);
    instrumentGrid->addWidget(m_saveIdnCheck, 2, 1, 1, 2);
    instrumentGrid->setColumnStretch(2, 1);
    pageLayout->addWidget(instrumentGroup);

    // Screenshot capture.
    auto* screenshotGroup = new QGroupBox(QStringLiteral("Screenshot capture"), page);
    screenshotGroup->setObjectName(QStringLiteral("screenshotGroup"));
    auto* grid = new QGridLayout(screenshotGroup);
    grid->setHorizontalSpacing(3);
    grid->setContentsMargins(6, 6, 6, 6);
    m_saveModeCombo = new QComboBox(screenshotGroup);
    m_saveModeCombo->setObjectName(QStringLiteral("saveModeCombo"));
    m_saveModeCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_saveModeCombo->setMinimumContentsLength(8);
    m_saveModeCombo->addItems({QStringLiteral("Save sequential"),
                               QStringLiteral("Copy to clipboard"),
                               QStringLiteral("Save individually")});
    m_retrieveWaveformsCheck =
        MakeCheck(screenshotGroup, QStringLiteral("Retrieve waveforms as data"),
                  QStringLiteral("retrieveWaveformsCheck"));
    m_imageDirCombo = MakeEditableCombo(screenshotGroup, QStringLiteral("imageDirCombo"));
    m_browseButton =
        MakeButton(screenshotGroup, QStringLiteral("..."), QStringLiteral("browseDirButton"));
    m_browseButton->setFixedWidth(
        m_browseButton->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    m_baseNameEdit = MakeEdit(screenshotGroup, QStringLiteral("baseNameEdit"));
    m_sequenceEdit = MakeEdit(screenshotGroup, QStringLiteral("sequenceEdit"));
    // Typing is limited to eight characters; text set by the program is not,
    // so that the check on taking the contents still has work to do.
    m_sequenceEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral(".{0,%1}").arg(kMaxSequenceChars)), m_sequenceEdit));
    m_captureDelayEdit = MakeEdit(screenshotGroup, QStringLiteral("captureDelayEdit"));
    m_captureDelayEdit->setMaximumWidth(
        m_captureDelayEdit->fontMetrics().horizontalAdvance(QStringLiteral("00000000")));
    m_captureDelayEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]*")), m_captureDelayEdit));
    m_imageFormatCombo = new QComboBox(screenshotGroup);
    m_imageFormatCombo->setObjectName(QStringLiteral("imageFormatCombo"));
    m_imageFormatCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_imageFormatCombo->setMinimumContentsLength(5);
    m_invertedGraticuleCheck =
        MakeCheck(screenshotGroup, QStringLiteral("Ink saver (Invert graticule)"),
                  QStringLiteral("invertedGraticuleCheck"));
    m_stopWhileCapturingCheck =
        MakeCheck(screenshotGroup, QStringLiteral("Stop instrument while capturing"),
                  QStringLiteral("stopWhileCapturingCheck"));
    m_commentsFileEdit = MakeEdit(screenshotGroup, QStringLiteral("commentsFileEdit"));
    m_commentsEdit = new QPlainTextEdit(screenshotGroup);
    m_commentsEdit->setObjectName(QStringLiteral("commentsEdit"));
    m_commentsEdit->setTabChangesFocus(true);
    m_commentsEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_commentsEdit->setFixedHeight(m_commentsEdit->fontMetrics().lineSpacing() * 5);
    m_getLastButton = MakeButton(screenshotGroup, QStringLiteral("Get last ->"),
                                 QStringLiteral("getLastCommentsButton"));

    grid->addWidget(MakeLabel(screenshotGroup, QStringLiteral("Save mode")), 0, 0);
    grid->addWidget(m_saveModeCombo, 0, 1);
    grid->addWidget(m_retrieveWaveformsCheck, 0, 2, 1, 3);
    grid->addWidget(MakeLabel(screenshotGroup, QStringLiteral("Image directory")), 1, 0);
    grid->addWidget(m_imageDirCombo, 1, 1, 1, 3);
    grid->addWidget(m_browseButton, 1, 4);
    grid->addWidget(MakeLabel(screenshotGroup, QStringLiteral("Image file name")), 2, 0);
    grid->addWidget(m_baseNameEdit, 2, 1, 1, 4);
    grid->addWidget(MakeLabel(screenshotGroup, QStringLiteral("Sequence number")), 3, 0);
    grid->addWidget(m_sequenceEdit, 3, 1);
    grid->addWidget(MakeLabel(screenshotGroup, QStringLiteral("Capture delay [s]")), 3, 2,
                    Qt::AlignRight);
    grid->addWidget(m_captureDelayEdit, 3, 3, 1, 2);
    grid->addWidget(MakeLabel(screenshotGroup, QStringLiteral("Image file format")), 4, 0);
    grid->addWidget(m_imageFormatCombo, 4, 1);
    auto* checks = new QVBoxLayout();
    checks->addWidget(m_invertedGraticuleCheck);
    checks->addWidget(m_stopWhileCapturingCheck);
    grid->addLayout(checks, 4, 2, 1, 3);
    grid->addWidget(MakeLabel(screenshotGroup, QStringLiteral("Comments file")), 5, 0);
    grid->addWidget(m_commentsFileEdit, 5, 1, 1, 4);
    auto* commentsColumn = new QVBoxLayout();
    commentsColumn->addWidget(MakeLabel(screenshotGroup, QStringLiteral("Image comments")));
    commentsColumn->addStretch(1);
    commentsColumn->addWidget(m_getLastButton);
    grid->addLayout(commentsColumn, 6, 0);
    grid->addWidget(m_commentsEdit, 6, 1, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    pageLayout->addWidget(screenshotGroup);

    // Numeric waveforms capture.
    auto* dataGroup = new QGroupBox(QStringLiteral("Numeric waveforms capture"), page);
    dataGroup->setObjectName(QStringLiteral("waveformDataGroup"));
    auto* dataGrid = new QGridLayout(dataGroup);
    dataGrid->setContentsMargins(6, 6, 6, 6);
    m_dataFormatCombo = new QComboBox(dataGroup);
    m_dataFormatCombo->setObjectName(QStringLiteral("dataFormatCombo"));
    m_dataFormatCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_dataFormatCombo->setMinimumContentsLength(8);
    m_channelList = new QListWidget(dataGroup);
    m_channelList->setObjectName(QStringLiteral("channelList"));
    m_channelList->setMinimumWidth(1);
    m_channelList->setSelectionMode(QAbstractItemView::NoSelection);
    m_channelList->setFlow(QListView::TopToBottom);
    m_channelList->setWrapping(true);
    m_channelList->setResizeMode(QListView::Adjust);
    m_channelList->setFixedHeight(m_channelList->fontMetrics().lineSpacing() * 4 + 8);
    dataGrid->addWidget(MakeLabel(dataGroup, QStringLiteral("Data save format")), 0, 0);
    dataGrid->addWidget(m_dataFormatCombo, 0, 1);
    dataGrid->addWidget(MakeLabel(dataGroup, QStringLiteral("Channels to retrieve")), 1, 0,
                        Qt::AlignTop);
    dataGrid->addWidget(m_channelList, 1, 1, 1, 2);
    dataGrid->setColumnStretch(2, 1);
    pageLayout->addWidget(dataGroup);

    pageLayout->addStretch(1);

    // The Capture button stays in view under the options, however short the
    // pane: the one control every visit needs.
    m_captureBar = new QWidget(this);
    m_captureBar->setObjectName(QStringLiteral("captureBar"));
    m_captureBar->setFont(compact);
    m_captureButton =
        MakeButton(m_captureBar, QStringLiteral("Capture"), QStringLiteral("captureButton"));
    auto* captureRow = new QHBoxLayout(m_captureBar);
    captureRow->setContentsMargins(6, 4, 6, 4);
    captureRow->addWidget(m_captureButton);
    captureRow->addStretch(1);

    // The state at start.
    m_retrieveWaveformsCheck->setEnabled(false);
    m_dataFormatCombo->setEnabled(false);
    m_channelList->setEnabled(false);
    m_getLastButton->setEnabled(false);
    m_captureButton->setEnabled(false);

    connect(m_connectButton, &QPushButton::clicked, this, &CUIForm::OnConnectClicked);
    connect(m_findButton, &QPushButton::clicked, this, &CUIForm::OnFindClicked);
    connect(m_captureButton, &QPushButton::clicked, this, &CUIForm::OnCaptureClicked);
    connect(m_getLastButton, &QPushButton::clicked, this, &CUIForm::OnGetLastClicked);
    connect(m_browseButton, &QPushButton::clicked, this, &CUIForm::OnBrowseClicked);

    m_optionsArea->setWidget(page);
    m_optionsArea->setWidgetResizable(true);
    m_optionsArea->setFrameShape(QFrame::NoFrame);
    GuardWheel(page);

    auto* paneLayout = new QVBoxLayout(this);
    paneLayout->setContentsMargins(0, 0, 0, 0);
    paneLayout->setSpacing(0);
    paneLayout->addWidget(m_optionsArea, 1);
    paneLayout->addWidget(m_captureBar);
}

void CUIForm::GuardWheel(QWidget* page) {
    QList<QWidget*> guarded;
    for (QComboBox* combo : page->findChildren<QComboBox*>())
        guarded.append(combo);
    for (QAbstractSpinBox* box : page->findChildren<QAbstractSpinBox*>())
        guarded.append(box);
    for (QWidget* widget : guarded) {
        // Drop-downs take the focus from the wheel by default (WheelFocus).
        widget->setFocusPolicy(Qt::StrongFocus);
        widget->installEventFilter(this);
    }
    // The number boxes ignore the wheel; handing it over here does not rely
    // on the event travelling up to the scroll area by itself.
    m_sequenceEdit->installEventFilter(this);
    m_captureDelayEdit->installEventFilter(this);
}

bool CUIForm::eventFilter(QObject* watched, QEvent* event) {
    // A wheel turned to scroll the options must not change a value it passes
    // over: unless the box has the focus, the wheel goes to the options area.
    if (event->type() == QEvent::Wheel && watched->isWidgetType() &&
        !static_cast<QWidget*>(watched)->hasFocus()) {
        QCoreApplication::sendEvent(m_optionsArea->viewport(), event);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QSize CUIForm::FullSizeHint() const {
    const QSize page = m_optionsPage->sizeHint();
    const QSize bar = m_captureBar->sizeHint();
    return {std::max(page.width(), bar.width()), page.height() + bar.height()};
}

void CUIForm::SetTabOrder() {
    const QList<QWidget*> order = {m_addressCombo,
                                   m_findButton,
                                   m_connectButton,
                                   m_saveIdnCheck,
                                   m_saveModeCombo,
                                   m_retrieveWaveformsCheck,
                                   m_imageDirCombo,
                                   m_browseButton,
                                   m_baseNameEdit,
                                   m_sequenceEdit,
                                   m_captureDelayEdit,
                                   m_imageFormatCombo,
                                   m_invertedGraticuleCheck,
                                   m_stopWhileCapturingCheck,
                                   m_commentsFileEdit,
                                   m_commentsEdit,
                                   m_getLastButton,
                                   m_dataFormatCombo,
                                   m_channelList,
                                   m_captureButton};
    for (int i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void CUIForm::SetValidationReporter(ValidationReporter reporter) {
    m_validationReporter = std::move(reporter);
}

void CUIForm::SetDirectoryPicker(DirectoryPicker picker) {
    m_directoryPicker = std::move(picker);
}

void CUIForm::ReportInvalid(QWidget* field, const QString& message) {
    if (m_validationReporter)
        m_validationReporter(message);
    field->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(field))
        edit->selectAll();
}

bool CUIForm::TakeValues() {
    m_visaAddress = m_addressCombo->currentText();
    m_idnText = EscapeAmpersands(m_idnLabel->text());
    m_imageDir = m_imageDirCombo->currentText();
    m_baseName = m_baseNameEdit->text();
    const QString sequence = m_sequenceEdit->text();
    if (sequence.size() > kMaxSequenceChars) {
        ReportInvalid(
            m_sequenceEdit,
            QStringLiteral("Please enter no more than %1 characters.").arg(kMaxSequenceChars));
        return false;
    }
    m_sequenceText = sequence;
    m_commentsFile = m_commentsFileEdit->text();
    m_comments = m_commentsEdit->toPlainText();
    m_invertedGraticule = m_invertedGraticuleCheck->isChecked();
    m_saveIdnInComments = m_saveIdnCheck->isChecked();
    bool isNumber = false;
    const qulonglong delay = m_captureDelayEdit->text().trimmed().toULongLong(&isNumber);
    if (!isNumber) {
        ReportInvalid(m_captureDelayEdit, QStringLiteral("Please enter a positive integer."));
        return false;
    }
    if (delay > kMaxCaptureDelay) {
        ReportInvalid(
            m_captureDelayEdit,
            QStringLiteral("Please enter an integer between 0 and %1.").arg(kMaxCaptureDelay));
        return false;
    }
    m_captureDelay = static_cast<std::uint32_t>(delay);
    m_stopWhileCapturing = m_stopWhileCapturingCheck->isChecked();
    return true;
}

void CUIForm::ShowValues() {
    ShowInEditableCombo(m_addressCombo, m_visaAddress);
    m_idnLabel->setText(UnescapeAmpersands(m_idnText));
    ShowInEditableCombo(m_imageDirCombo, m_imageDir);
    m_baseNameEdit->setText(m_baseName);
    m_sequenceEdit->setText(m_sequenceText);
    m_commentsFileEdit->setText(m_commentsFile);
    if (m_commentsEdit->toPlainText() != m_comments)
        m_commentsEdit->setPlainText(m_comments);
    m_invertedGraticuleCheck->setChecked(m_invertedGraticule);
    m_saveIdnCheck->setChecked(m_saveIdnInComments);
    m_captureDelayEdit->setText(QString::number(m_captureDelay));
    m_stopWhileCapturingCheck->setChecked(m_stopWhileCapturing);
}

void CUIForm::LoadHistories() {
    if (m_addressCombo->count() == 0)
        FillFromHistory(m_addressCombo, LoadHistory(m_store, HistoryKind::Addresses),
                        DefaultVisaAddress(), m_visaAddress);
    if (m_imageDirCombo->count() == 0)
        FillFromHistory(m_imageDirCombo, LoadHistory(m_store, HistoryKind::Directories),
                        DefaultImageDirectory(), m_imageDir);
}

void CUIForm::InitialUpdate() {
    ShowValues();
    LoadHistories();

    // Save mode 3 is within the stored range but has no entry: no selection.
    m_saveModeCombo->setCurrentIndex(
        m_saveMode >= 0 && m_saveMode < m_saveModeCombo->count() ? m_saveMode : -1);

    if (m_imageFormatCombo->count() == 0 && !m_formatNames.isEmpty()) {
        int selected = -1;
        for (const QString& name : m_formatNames) {
            m_imageFormatCombo->addItem(name);
            if (name.compare(m_lastGfxFormat, Qt::CaseInsensitive) == 0)
                selected = m_imageFormatCombo->count() - 1;
        }
        m_imageFormatCombo->setCurrentIndex(selected);
    }

    m_dataFormatCombo->clear();
    m_dataFormatCombo->addItem(QStringLiteral("CSV"), static_cast<int>(DataFormat::Csv));
    m_dataFormatCombo->addItem(QStringLiteral("Kst compatible dirfile"),
                               static_cast<int>(DataFormat::Dirfile));
    m_dataFormatCombo->setCurrentIndex(
        m_dataFileFormat >= 0 && m_dataFileFormat < m_dataFormatCombo->count() ? m_dataFileFormat
                                                                               : -1);
    TakeValues();
}

void CUIForm::BuildFormatList(const std::vector<ImageEncoder>& encoders) {
    for (const ImageEncoder& encoder : encoders)
        m_formatNames.append(QString::fromStdString(encoder.shortName));
}

void CUIForm::SaveOptions() {
    // A field that fails its check keeps its old value; the writing goes on.
    TakeValues();
    FormOptions options;
    options.saveIdnInComments = m_saveIdnInComments;
    options.invertedGraticule = m_invertedGraticule;
    options.stopWhileCapturing = m_stopWhileCapturing;
    options.saveMode = m_saveModeCombo->currentIndex();
    options.baseName = m_baseName;
    options.commentsFile = m_commentsFile;
    // With nothing selected the stored choice is kept for the next run.
    options.lastGfxFormat = m_imageFormatCombo->currentIndex() >= 0
                                ? m_imageFormatCombo->currentText()
                                : m_lastGfxFormat;
    options.dataFileFormat = m_dataFormatCombo->currentIndex();
    SaveFormOptions(m_store, options);
    SaveHistory(m_store, HistoryKind::Addresses, ComboEntries(m_addressCombo));
    SaveHistory(m_store, HistoryKind::Directories, ComboEntries(m_imageDirCombo));
    m_store.Sync();
}

QStringList CUIForm::AddressHistory() const {
    return ComboEntries(m_addressCombo);
}
QStringList CUIForm::DirectoryHistory() const {
    return ComboEntries(m_imageDirCombo);
}

void CUIForm::OnConnectClicked() {
    TakeValues(); // the request goes out even when a field failed its check
    emit connectRequested();
}

void CUIForm::OnCaptureClicked() {
    TakeValues();
    emit captureRequested();
}

void CUIForm::OnGetLastClicked() {
    TakeValues();
    if (!m_lastComments.isEmpty()) {
        m_comments = m_lastComments;
        ShowValues();
    }
}

void CUIForm::OnBrowseClicked() {
    TakeValues();
    if (!m_directoryPicker)
        return;
    const QString chosen = m_directoryPicker(this, m_imageDir);
    if (chosen.isEmpty())
        return;
    m_imageDir = chosen;
    ShowValues();
}

std::string CUIForm::GetVisaAddress() const {
    return ToUtf8(m_visaAddress);
}
std::string CUIForm::GetImageDir() const {
    return ToUtf8(m_imageDir);
}
std::string CUIForm::GetBaseName() const {
    return ToUtf8(m_baseName);
}
std::string CUIForm::GetSequenceText() const {
    return ToUtf8(m_sequenceText);
}
std::string CUIForm::GetCommentsFile() const {
    return ToUtf8(m_commentsFile);
}
std::string CUIForm::GetComments() const {
    return ToUtf8(m_comments);
}

int CUIForm::GetSaveModeIndex() const {
    return m_saveModeCombo->currentIndex();
}

DataFormat CUIForm::GetDataFormat() const {
    const int index = m_dataFormatCombo->currentIndex();
    if (index < 0)
        return DataFormat::Dirfile;
    return m_dataFormatCombo->itemData(index).toInt() == static_cast<int>(DataFormat::Csv)
               ? DataFormat::Csv
               : DataFormat::Dirfile;
}

bool CUIForm::IsRetrieveWaveformsChecked() const {
    return m_retrieveWaveformsCheck->isChecked();
}

int CUIForm::GetImageFormatIndex() const {
    return m_imageFormatCombo->currentIndex();
}

std::string CUIForm::GetImageExtension() const {
    if (m_imageFormatCombo->currentIndex() < 0)
        return "png";
    return ToUtf8(m_imageFormatCombo->currentText().toLower());
}

void CUIForm::SetSequence(std::uint32_t number, const std::string& text) {
    m_sequenceNumber = number;
    m_sequenceText = ToQString(text);
    ShowValues();
}

void CUIForm::SetIdnText(const std::string& idn) {
    m_idnText = EscapeAmpersands(ToQString(idn));
}

void CUIForm::OnFindClicked() {
    auto* dialog = new CFindDialog(m_store, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The chosen address goes into the box as typed text; the history takes
    // it when the connection succeeds, as with any address.
    connect(dialog, &QDialog::accepted, this,
            [this, dialog] { m_addressCombo->setEditText(dialog->ChosenResource()); });
    dialog->open();
    dialog->StartSearch();
    emit findOpened();
}

void CUIForm::AddAddressToHistory(const QString& address) {
    PutOnTopOfHistory(m_addressCombo, address, kAddressHistoryLimit);
}

void CUIForm::AddDirToHistory(const std::string& directory) {
    PutOnTopOfHistory(m_imageDirCombo, ToQString(directory), kDirectoryHistoryLimit);
}

void CUIForm::SetConnected(bool connected) {
    if (connected) {
        AddAddressToHistory(m_visaAddress);
        m_connectButton->setText(QStringLiteral("Disconnect"));
        m_captureAllowed = true;
        m_captureButton->setEnabled(!m_requestUnderWay);
        m_addressCombo->setEnabled(false);
        m_findButton->setEnabled(false);
        m_channelList->clear();
        if (!m_offeredChannels.isEmpty()) {
            for (const QString& name : m_offeredChannels) {
                auto* item = new QListWidgetItem(name, m_channelList);
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
                item->setCheckState(Qt::Checked);
            }
            m_channelList->setEnabled(true);
            m_retrieveWaveformsCheck->setEnabled(true);
            m_dataFormatCombo->setEnabled(true);
        } else {
            m_retrieveWaveformsCheck->setChecked(false);
            m_channelList->setEnabled(false);
        }
    } else {
        m_captureAllowed = false;
        m_captureButton->setEnabled(false);
        m_idnText = kDisconnectedIdn;
        m_connectButton->setText(QStringLiteral("Connect"));
        m_addressCombo->setEnabled(true);
        m_findButton->setEnabled(true);
        m_channelList->clear();
        m_channelList->setEnabled(false);
        m_retrieveWaveformsCheck->setEnabled(false);
        m_dataFormatCombo->setEnabled(false);
    }
    ShowValues();
    m_instrumentConnected = connected;
    emit connectedStateChanged(connected);
}

void CUIForm::ClearOfferedChannels() {
    m_offeredChannels.clear();
}

void CUIForm::AddOfferedChannel(const std::string& name) {
    m_offeredChannels.append(ToQString(name));
}

void CUIForm::StashComments() {
    if (!m_comments.isEmpty()) {
        m_lastComments = m_comments;
        m_getLastButton->setEnabled(true);
    }
    m_comments.clear();
    ShowValues();
}

void CUIForm::SnapshotSelectedChannels() {
    m_selectedChannels.clear();
    for (int i = 0; i < m_channelList->count(); ++i) {
        const QListWidgetItem* item = m_channelList->item(i);
        if (item->checkState() == Qt::Checked)
            m_selectedChannels.append(item->text());
    }
}

std::vector<std::string> CUIForm::CopySelectedChannels() const {
    std::vector<std::string> names;
    names.reserve(m_selectedChannels.size());
    for (const QString& name : m_selectedChannels)
        names.push_back(ToUtf8(name));
    return names;
}

void CUIForm::SetCaptureButtonCaption(const std::string& caption) {
    m_captureButton->setText(ToQString(caption));
    emit captureCaptionChanged();
}

bool CUIForm::IsCaptureEnabled() const {
    return m_captureButton->isEnabled();
}

QString CUIForm::CaptureCaption() const {
    return m_captureButton->text();
}

void CUIForm::SetRequestUnderWay(bool underWay) {
    if (m_requestUnderWay == underWay)
        return;
    m_requestUnderWay = underWay;
    if (underWay) {
        // Disabling a focused button passes the focus on; it comes back after.
        m_captureHadFocus = m_captureButton->hasFocus();
        m_captureButton->setEnabled(false);
        return;
    }
    m_captureButton->setEnabled(m_captureAllowed);
    if (m_captureHadFocus && m_captureAllowed)
        m_captureButton->setFocus(Qt::OtherFocusReason);
    m_captureHadFocus = false;
}

void CUIForm::CaptureCommand() {
    if (m_captureButton->isEnabled())
        OnCaptureClicked();
}
