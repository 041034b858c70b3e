#include "ui/DiskwrightDlg.h"

#include "app/DiskwrightDlgAutoProxy.h"
#include "engine/Delete.h"
#include "engine/Directory.h"
#include "engine/Extract.h"
#include "engine/FilePack.h"
#include "engine/HostNames.h"
#include "engine/Import.h"
#include "engine/Rename.h"
#include "engine/Texts.h"
#include "ui/AboutDlg.h"
#include "ui/ControlIds.h"
#include "ui/DialogUnits.h"
#include "ui/EditorPathDlg.h"
#include "ui/ExternalEditor.h"
#include "ui/FormatDlg.h"
#include "ui/ImportPrompts.h"
#include "ui/ListCtrlEx.h"
#include "ui/OptionsDlg.h"
#include "ui/Prompts.h"
#include "ui/Resources.h"
#include "ui/StatusLamp.h"
#include "ui/WaitCursor.h"

#include "DiskwrightVersion.h"

#include <QAction>
#include <QDir>
#include <QDrag>
#include <QFile>
#include <QGroupBox>
#include <QHideEvent>
#include <QIcon>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
QString text(const std::string& s) {
    return QString::fromStdString(s);
}

// Names and extensions are bytes of the diskette: one character per byte, so the texts can be
// matched back against the directory.
QString diskText(const std::string& s) {
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

// A directory that could be walked only part of the way is still listed, up to the damage.
QString damageText(const dw::Status& status) {
    return text(status.text()) + QStringLiteral("\nThe files before the damage are listed; the "
                                                "disk image was not changed.");
}

bool refused(const dw::Status& status) {
    return !status.ok() && status.code() != dw::ErrorCode::Damaged;
}

// The engine's text names the host file it could not make or write; the system says why.
QString copyFailureText(const dw::Status& status, int reason) {
    QString shown = text(status.text());
    const bool hostFailure =
        status.code() == dw::ErrorCode::OpenFailed || status.code() == dw::ErrorCode::WriteFailed;
    if (hostFailure && reason != 0)
        shown +=
            QStringLiteral(" (") + QString::fromLocal8Bit(std::strerror(reason)) + QLatin1Char(')');
    return shown;
}
} // namespace

CDiskwrightDlg::CDiskwrightDlg(CDiskwrightApp& app, Prompts& prompts, SettingsStore& settings,
                               QWidget* parent, ImageOpener opener)
    : QDialog(parent), m_app(app), m_prompts(prompts), m_settings(settings),
      m_openImage(std::move(opener)) {
    initDiskwrightResources();
    setWindowIcon(applicationIcon());
    setWindowTitle(QStringLiteral("Diskwright Version " DISKWRIGHT_VERSION));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(dialogFont());
    CreateControls();
    const QSize stored = StoredSize();
    if (const QScreen* screen = this->screen())
        resize(stored.boundedTo(screen->availableSize()));
    else
        resize(stored);

    // The window manager owns the window menu here: the About item lives in a context menu
    // on the window and on F1, beside Rename, which Alt+click reaches only where the window
    // manager leaves that gesture alone.
    m_actRename = new QAction(QStringLiteral("Rename"), this);
    m_actRename->setShortcut(QKeySequence(Qt::Key_F2));
    m_actRename->setShortcutContext(Qt::WindowShortcut);
    addAction(m_actRename);
    connect(m_actRename, &QAction::triggered, this, &CDiskwrightDlg::OnRename);
    m_actAbout = new QAction(QStringLiteral("&About Diskwright..."), this);
    m_actAbout->setShortcut(QKeySequence(Qt::Key_F1));
    m_actAbout->setShortcutContext(Qt::WindowShortcut);
    addAction(m_actAbout);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(m_actAbout, &QAction::triggered, this, &CDiskwrightDlg::OnAbout);
}

CDiskwrightDlg::~CDiskwrightDlg() = default;

void CDiskwrightDlg::CreateControls() {
    const DialogUnits units(font());
    m_sizeTemplate = units.size(346, 223);
    setMinimumSize(m_sizeTemplate);

    // The group box first, so the statics inside it lie above it.
    m_grpVolume = new QGroupBox(this);
    m_grpVolume->setGeometry(units.rect(7, 7, 273, 38));
    m_grpVolume->setProperty(ControlIdProperty, IDC_STATIC);
    m_grpVolume->setAccessibleName(QStringLiteral("Volume"));

    m_btnClose = addButton(this, IDCANCEL, QStringLiteral("&Close"), 288, 11, 50, 14);
    m_btnOpenDisk = addButton(this, IDC_OPEN_DISK, QStringLiteral("&Open Disk"), 288, 51, 50, 14);
    m_btnCreateDisk =
        addButton(this, IDC_CREATE_DISK, QStringLiteral("Cre&ate Disk"), 288, 68, 50, 14);
    m_btnRefresh = addButton(this, IDC_REFRESH, QStringLiteral("&Refresh"), 289, 97, 50, 14);
    m_btnEditor = addButton(this, IDC_EDITOR, QStringLiteral("Edito&r"), 289, 128, 50, 14);
    m_btnOptions = addButton(this, IDC_OPTIONS, QStringLiteral("&Options"), 289, 145, 50, 14);
    m_btnImport = addButton(this, IDC_IMPORT, QStringLiteral("&Import"), 289, 169, 50, 14);
    m_btnExport = addButton(this, IDC_EXPORT, QStringLiteral("&Export"), 289, 185, 50, 14);
    m_btnDelete = addButton(this, IDC_DELETE, QStringLiteral("&Delete"), 289, 202, 50, 14);
    m_btnOpenDisk->setDefault(true);

    addStatic(this, IDC_STATIC, QStringLiteral("Volume Label"), 13, 18, 44, 8);
    m_stcVolumeLabel = addStatic(this, IDC_VOLUME_LABEL, QString(), 76, 18, 93, 8);
    addStatic(this, IDC_STATIC, QStringLiteral("File Count"), 183, 18, 32, 8);
    m_stcFileCount = addStatic(this, IDC_FILE_COUNT, QString(), 239, 18, 33, 8);
    addStatic(this, IDC_STATIC, QStringLiteral("Creation Date"), 13, 29, 44, 8);
    m_stcCreationDate = addStatic(this, IDC_CREATION_DATE, QString(), 76, 29, 61, 8);
    addStatic(this, IDC_STATIC, QStringLiteral("Remaining Sectors"), 183, 29, 60, 8);
    m_stcRemainingSectors = addStatic(this, IDC_REMAINING_SECTORS, QString(), 249, 29, 23, 8);

    m_stcVolumeLabel->setAccessibleName(QStringLiteral("Volume Label"));
    m_stcFileCount->setAccessibleName(QStringLiteral("File Count"));
    m_stcCreationDate->setAccessibleName(QStringLiteral("Creation Date"));
    m_stcRemainingSectors->setAccessibleName(QStringLiteral("Remaining Sectors"));

    // A picture static takes the size of its bitmap, 15 pixels square.
    m_stcStatusLamp = placeControl(this, new CStatusLamp(this), IDC_STATUS_LAMP, 287, 33, 10, 9);
    m_stcStatusLamp->resize(m_stcStatusLamp->sizeHint());

    m_lstFiles = new CListCtrlEx(this);
    m_lstFiles->setGeometry(units.rect(7, 51, 273, 165));
    m_lstFiles->setProperty(ControlIdProperty, IDC_FILE_LIST);
    m_lstFiles->setAccessibleName(QStringLiteral("Files"));
    m_lstFiles->SetShowSelectionAlways(true);

    for (QWidget* control : std::initializer_list<QWidget*>{
             m_btnClose, m_btnOpenDisk, m_btnCreateDisk, m_btnRefresh, m_btnEditor, m_btnOptions,
             m_btnImport, m_btnExport, m_btnDelete, m_stcStatusLamp})
        m_rightColumn.emplace_back(control, control->pos());

    connect(m_btnOpenDisk, &QPushButton::clicked, this, &CDiskwrightDlg::OnOpenDisk);
    connect(m_btnDelete, &QPushButton::clicked, this, &CDiskwrightDlg::OnDelete);
    connect(m_btnExport, &QPushButton::clicked, this, &CDiskwrightDlg::OnExport);
    connect(m_btnImport, &QPushButton::clicked, this, &CDiskwrightDlg::OnImport);
    connect(m_lstFiles, &QTreeWidget::itemDoubleClicked, this, &CDiskwrightDlg::OnDblclkFileList);
    // Once the name editor has closed: the rename may show a message and lists the disk anew.
    connect(m_lstFiles, &CListCtrlEx::nameEdited, this, &CDiskwrightDlg::OnRenameFile,
            Qt::QueuedConnection);
    connect(m_lstFiles, &CListCtrlEx::rowsDragged, this, &CDiskwrightDlg::OnDragRows);
    // Once the drop is over: a question asked inside it would stall the drag's exchange.
    connect(m_lstFiles, &CListCtrlEx::filesDropped, this, &CDiskwrightDlg::OnDropFiles,
            Qt::QueuedConnection);
    connect(m_lstFiles, &CListCtrlEx::flexFilesDropped, this, &CDiskwrightDlg::OnDropFlexFiles,
            Qt::QueuedConnection);
    connect(m_btnEditor, &QPushButton::clicked, this, &CDiskwrightDlg::OnEditor);
    connect(m_btnCreateDisk, &QPushButton::clicked, this, &CDiskwrightDlg::OnCreateDisk);
    connect(m_btnOptions, &QPushButton::clicked, this, &CDiskwrightDlg::OnOptions);
    connect(m_btnRefresh, &QPushButton::clicked, this, &CDiskwrightDlg::OnRefresh);
    connect(m_btnClose, &QPushButton::clicked, this, &CDiskwrightDlg::OnCancel);

    setTabOrder(m_btnOpenDisk, m_btnCreateDisk);
    setTabOrder(m_btnCreateDisk, m_btnEditor);
    setTabOrder(m_btnEditor, m_btnOptions);
    setTabOrder(m_btnOptions, m_btnImport);
    setTabOrder(m_btnImport, m_btnExport);
    setTabOrder(m_btnExport, m_btnDelete);
    setTabOrder(m_btnDelete, m_btnClose);
    setTabOrder(m_btnClose, m_lstFiles);
    setTabOrder(m_lstFiles, m_btnRefresh);
}

void CDiskwrightDlg::PlaceControls() {
    const QSize extra = (size() - m_sizeTemplate).expandedTo(QSize(0, 0));
    const DialogUnits units(font());
    m_lstFiles->setGeometry(
        units.rect(7, 51, 273, 165).adjusted(0, 0, extra.width(), extra.height()));
    m_grpVolume->setGeometry(units.rect(7, 7, 273, 38).adjusted(0, 0, extra.width(), 0));
    for (const auto& [control, place] : m_rightColumn)
        control->move(place + QPoint(extra.width(), 0));
}

void CDiskwrightDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    PlaceControls();
}

QSize CDiskwrightDlg::StoredSize() const {
    const QSize stored(m_settings.get(Settings::WindowWidth),
                       m_settings.get(Settings::WindowHeight));
    return stored.isValid() ? stored.expandedTo(m_sizeTemplate) : m_sizeTemplate;
}

void CDiskwrightDlg::StoreSize() {
    const QSize now = isMaximized() || isFullScreen() ? normalGeometry().size() : size();
    if (now == StoredSize())
        return;
    if (!m_settings.set(
            {{Settings::WindowWidth, now.width()}, {Settings::WindowHeight, now.height()}}))
        m_prompts.message(this, QStringLiteral("Unable to save the settings in ") +
                                    m_settings.location() +
                                    QStringLiteral("; the window's size was not stored."));
}

// Closed by any way, or hidden while an automation client holds the program; a minimised
// window's hide comes from the window system and keeps its size.
void CDiskwrightDlg::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous())
        StoreSize();
}

void CDiskwrightDlg::SetImage(std::unique_ptr<dw::DiskImage> image, bool readOnly) {
    m_pImage = std::move(image);
    m_bReadOnly = readOnly;
}

void CDiskwrightDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bInitialised)
        OnInitDialog();
}

bool CDiskwrightDlg::OnInitDialog() {
    if (m_bInitialised)
        return true;
    m_bInitialised = true;
    m_btnImport->setEnabled(false);
    m_btnExport->setEnabled(false);
    m_btnDelete->setEnabled(false);
    m_btnRefresh->setEnabled(false);
    SetLamp(IDB_NO_IMAGE);
    setWindowTitle(m_strTitle);

    // An image from the command line that cannot be used is refused as Open Disk refuses one.
    if (m_pImage) {
        dw::Listing probe;
        const dw::Status status = dw::readListing(*m_pImage, probe);
        if (refused(status)) {
            const QString path = QFile::decodeName(m_pImage->path().c_str());
            m_pImage.reset();
            m_prompts.message(this, path + QStringLiteral("\n") + text(status.text()) +
                                        QStringLiteral("\nNo disk image was opened."));
        }
    }
    ResetFileList();
    ReadDirectory();
    m_lstFiles->EnableFullRowSelect(true);
    return true;
}

void CDiskwrightDlg::SetLamp(int bitmapId) {
    m_stcStatusLamp->SetBitmap(bitmapId);
}

void CDiskwrightDlg::EnableImageButtons() {
    m_btnImport->setEnabled(true);
    m_btnExport->setEnabled(true);
    m_btnDelete->setEnabled(true);
    m_btnRefresh->setEnabled(true);
    m_lstFiles->setAcceptDrops(true);
}

QString CDiskwrightDlg::KeptText() const {
    return m_pImage ? QStringLiteral("The disk image that was open stays open.")
                    : QStringLiteral("No disk image was opened.");
}

void CDiskwrightDlg::OnOpenDisk() {
    OpenDisk();
}

int CDiskwrightDlg::OpenDisk() {
    const QString folder = m_settings.get(Settings::DefaultDiskwrightDir);
    const QString path = m_prompts.openFileName(
        this, folder, QStringLiteral("Virtual Disk Files (*.dsk)"), QStringLiteral("dsk"));
    // After Cancel the title keeps naming the image that is listed.
    if (path.isEmpty())
        return IDCANCEL;

    if (!m_settings.set(Settings::DefaultDiskwrightDir, folderOf(path)))
        m_prompts.message(
            this, QStringLiteral("Unable to save the settings in ") + m_settings.location() +
                      QStringLiteral("; the folder of the disk image was not stored."));

    std::unique_ptr<dw::DiskImage> image;
    dw::Status status = m_openImage(nativePath(path), image);
    dw::Listing listing;
    if (status.ok())
        status = dw::readListing(*image, listing);
    if (refused(status)) {
        SetLamp(IDB_NO_IMAGE);
        QString why = text(status.text());
        if (status.code() != dw::ErrorCode::OpenFailed)
            why = path + QStringLiteral("\n") + why;
        m_prompts.message(this, why + QStringLiteral("\n") + KeptText());
        return IDOK;
    }

    m_pImage = std::move(image);
    m_bReadOnly = m_pImage->readOnly();
    EnableImageButtons();
    m_btnOpenDisk->setText(QStringLiteral("C&hange Disk"));
    m_strTitle = QStringLiteral("Diskwright: ") + path;
    setWindowTitle(m_strTitle);
    ResetFileList();
    ShowListing(listing);
    if (!status.ok())
        m_prompts.message(this, damageText(status));
    TellNotice();
    return IDOK;
}

void CDiskwrightDlg::OnRefresh() {
    ReadDirectory();
}

int CDiskwrightDlg::ReadDirectory() {
    if (!m_pImage) {
        m_stcFileCount->setText(text(dw::fileCountText(0)));
        return 0;
    }
    dw::Listing listing;
    const dw::Status status = dw::readListing(*m_pImage, listing);
    if (status.code() == dw::ErrorCode::Busy) {
        // Another program is changing the image: the rows stay as they were listed.
        m_prompts.message(this, text(status.text()));
        return m_lstFiles->GetItemCount();
    }
    if (refused(status)) {
        // Nothing of this image can be trusted any more: show no rows rather than stale ones.
        ResetFileList();
        m_stcVolumeLabel->clear();
        m_stcCreationDate->clear();
        m_stcRemainingSectors->clear();
        m_stcFileCount->setText(text(dw::fileCountText(0)));
        m_prompts.message(this, text(status.text()) +
                                    QStringLiteral("\nNo files are listed; the disk image was "
                                                   "not changed."));
        return 0;
    }
    const int rows = ShowListing(listing);
    if (!status.ok())
        m_prompts.message(this, damageText(status));
    TellNotice();
    return rows;
}

int CDiskwrightDlg::ShowListing(const dw::Listing& listing) {
    m_nVolumeNumber = listing.sir.volumeNumber;
    m_nFreeSectors = listing.sir.freeSectorCount;
    m_stcVolumeLabel->setText(diskText(dw::volumeLabelText(listing.sir)));
    m_stcCreationDate->setText(text(dw::creationDateText(listing.sir)));
    m_stcRemainingSectors->setText(text(dw::remainingSectorsText(m_nFreeSectors)));

    ResetFileList();
    int rows = 0;
    for (const dw::DirectoryEntry& entry : listing.entries) {
        const dw::RowTexts cells = dw::rowTexts(entry);
        QStringList texts;
        for (const std::string& cell : cells)
            texts << diskText(cell);
        m_lstFiles->InsertRow(rows, texts);
        ++rows;
    }

    SetLamp(m_bReadOnly ? IDB_READ_ONLY : IDB_READ_WRITE);
    EnableImageButtons();
    m_stcFileCount->setText(text(dw::fileCountText(rows)));
    return rows;
}

void CDiskwrightDlg::ResetFileList() {
    // The widths suit the Windows dialog font; where this system's font is wider, the columns
    // of fixed-form texts (date, links, count) grow just enough to show them uncut.
    static const char* const widestTexts[dw::ColumnCount] = {
        nullptr, nullptr, "Y", "0000-00-00", "000-000", "000-000", "000000"};
    m_lstFiles->DeleteAll();
    for (int column = 0; column < dw::ColumnCount; ++column) {
        const dw::ColumnSpec& columnSpec = dw::FileColumns[static_cast<std::size_t>(column)];
        int width = columnSpec.width;
        if (const char* widest = widestTexts[column])
            width = std::max(width, m_lstFiles->WidthToShow(QString::fromLatin1(widest)));
        m_lstFiles->InsertColumn(column, QString::fromLatin1(columnSpec.title), width);
    }
}

int CDiskwrightDlg::GetFirstSelectedItem() const {
    for (int row = 0; row < m_lstFiles->GetItemCount(); ++row)
        if (m_lstFiles->IsRowSelected(row))
            return row;
    return -1;
}

bool CDiskwrightDlg::IsItemSelected(int index) const {
    return index >= 0 && index < m_lstFiles->GetItemCount() && m_lstFiles->IsRowSelected(index);
}

void CDiskwrightDlg::OnCreateDisk() {
    // The new image is neither opened nor listed: the open image stays as it is.
    CFormatDlg format(m_prompts, m_settings, this);
    m_prompts.runDialog(format);
}

std::vector<int> CDiskwrightDlg::SelectedRows() const {
    std::vector<int> rows;
    for (int row = 0; row < m_lstFiles->GetItemCount(); ++row)
        if (IsItemSelected(row))
            rows.push_back(row);
    return rows;
}

dw::EntryFields CDiskwrightDlg::RowFields(int row) const {
    dw::RowTexts cells;
    for (int column = 0; column < dw::ColumnCount; ++column)
        cells[static_cast<std::size_t>(column)] =
            m_lstFiles->GetItemText(row, column).toLatin1().toStdString();
    return dw::parseRowFields(cells);
}

void CDiskwrightDlg::TellNotice() {
    if (!m_pImage)
        return;
    const std::string notice = m_pImage->takeNotice();
    if (!notice.empty())
        m_prompts.message(this, text(notice));
}

bool CDiskwrightDlg::RefusedReadOnly() {
    if (!m_bReadOnly)
        return false;
    m_prompts.message(this,
                      QStringLiteral("The image is open for reading only; nothing was changed."));
    return true;
}

void CDiskwrightDlg::StoreFolder(const StringSetting& setting, const QString& path,
                                 const QString& what) {
    if (!m_settings.set(setting, folderOf(path)))
        m_prompts.message(this, QStringLiteral("Unable to save the settings in ") +
                                    m_settings.location() + QStringLiteral("; the folder of ") +
                                    what + QStringLiteral(" was not stored."));
}

void CDiskwrightDlg::OnDelete() {
    if (!m_pImage || RefusedReadOnly())
        return;
    if (!m_prompts.askYesNo(this, QStringLiteral("Are you sure?")))
        return;
    const bool ran = RunChange([&] {
        // The rows stay as listed until the end: each file is found again by its name.
        for (int row : SelectedRows()) {
            const dw::EntryFields file = RowFields(row);
            const dw::Status status = dw::deleteFile(*m_pImage, file.name, file.ext);
            // A file no longer on the disk (changed by another program) is passed over.
            if (!status.ok() && status.code() != dw::ErrorCode::NotFound)
                m_prompts.message(this, text(status.text()));
        }
    });
    if (ran)
        ReadDirectory();
}

void CDiskwrightDlg::OnRename() {
    int row = m_lstFiles->currentIndex().row();
    if (!IsItemSelected(row))
        row = GetFirstSelectedItem();
    m_lstFiles->EditName(row);
}

void CDiskwrightDlg::OnRenameFile(int row, const QString& name) {
    if (!m_pImage || row < 0 || row >= m_lstFiles->GetItemCount() || RefusedReadOnly())
        return;
    // The editor holds the name column: the extension stays. UTF-8 keeps any character that
    // is no FLEX one from passing for one, so the engine refuses it.
    const dw::EntryFields file = RowFields(row);
    const dw::Status status = dw::renameFile(*m_pImage, file.name + "." + file.ext,
                                             name.toUtf8().toStdString() + "." + file.ext);
    if (!status.ok()) {
        m_prompts.message(this, text(status.text()));
        TellNotice();
        return;
    }
    // The entry keeps its place in the directory, and so its row.
    ReadDirectory();
    m_lstFiles->setCurrentItem(m_lstFiles->topLevelItem(row));
}

bool CDiskwrightDlg::RunChange(const std::function<void()>& steps) {
    dw::ImageChange change(*m_pImage);
    if (!change.status().ok()) {
        m_prompts.message(this, text(change.status().text()));
        TellNotice();
        return false;
    }
    steps();
    if (const dw::Status status = change.commit(); !status.ok())
        m_prompts.message(this, text(status.text()));
    return true;
}

void CDiskwrightDlg::OnExport() {
    if (!m_pImage)
        return;
    const std::vector<int> rows = SelectedRows();
    if (rows.empty())
        return;
    QString folder = m_settings.get(Settings::DefaultExportDir);

    if (rows.size() == 1) {
        const dw::EntryFields file = RowFields(rows.front());
        const QString path = m_prompts.saveFileName(
            this, folder, QFile::decodeName(dw::hostFileName(file.name, file.ext).c_str()),
            QStringLiteral("All files (*)"), QString());
        if (path.isEmpty())
            return;
        StoreFolder(Settings::DefaultExportDir, path, QStringLiteral("the exported file"));
        ExportFile(file, nativePath(path));
        return;
    }

    if (folder.isEmpty())
        folder = QDir::currentPath();
    const QString question =
        QStringLiteral("Multiple selection will put the files in the \ndefault export directory "
                       "with the same names \nas the files on the FLEX diskette.\n\nThe "
                       "default export directory is:\n\n      %1\n\nDo you wish to proceed?\n")
            .arg(folder);
    if (!m_prompts.askYesNo(this, question))
        return;
    const std::filesystem::path into(nativePath(folder));
    for (int row : rows) {
        const dw::EntryFields file = RowFields(row);
        ExportFile(file, into / dw::hostFileName(file.name, file.ext));
    }
}

bool CDiskwrightDlg::ExportFile(const dw::EntryFields& file,
                                const std::filesystem::path& destination, bool replaceExisting) {
    dw::ExtractOptions options;
    options.newline = m_app.m_bAddLineFeeds ? dw::Newline::CrLf : dw::Newline::Cr;
    options.expandTabs = m_app.m_bExpandTabs;
    dw::ExtractResult result;
    int reason = 0;
    {
        const WaitCursor wait;
        errno = 0;
        result = dw::exportFile(*m_pImage, file, destination, replaceExisting, options);
        reason = errno;
    }
    if (!result.status.ok())
        m_prompts.message(this, copyFailureText(result.status, reason));
    else if (result.chainEndedEarly)
        m_prompts.message(this, QString::fromLatin1(dw::UnexpectedEndOfChainText));
    TellNotice();
    return result.status.ok() && !result.chainEndedEarly;
}

QString CDiskwrightDlg::NewDragFolder() {
    const std::filesystem::path base =
        dw::temporaryFolder(nativePath(m_settings.get(Settings::TempDir)));
    if (!m_dragFolder || !m_dragFolder->isValid())
        m_dragFolder = std::make_unique<QTemporaryDir>(QFile::decodeName(base.c_str()) +
                                                       QStringLiteral("/diskwright-drag-XXXXXX"));
    // A folder for each drag: a file manager may still be copying an earlier drag's files.
    QString folder = m_dragFolder->filePath(QString::number(++m_nDrags));
    if (!m_dragFolder->isValid() || !QDir().mkdir(folder)) {
        m_prompts.message(this, QStringLiteral("Unable to make a temporary folder in ") +
                                    QFile::decodeName(base.c_str()) +
                                    QStringLiteral("; nothing was dragged."));
        return {};
    }
    return folder;
}

std::unique_ptr<QMimeData> CDiskwrightDlg::DragData() {
    const std::vector<int> rows = SelectedRows();
    if (!m_pImage || rows.empty())
        return {};
    const QString folder = NewDragFolder();
    if (folder.isEmpty())
        return {};
    QList<QUrl> urls;
    std::vector<dw::PackedFile> files;
    for (int row : rows) {
        const dw::EntryFields file = RowFields(row);
        const std::filesystem::path path =
            std::filesystem::path(nativePath(folder)) / dw::hostFileName(file.name, file.ext);
        // Two rows of one name (a damaged directory) must not overwrite each other.
        if (!ExportFile(file, path, false))
            return {};
        urls << QUrl::fromLocalFile(QFile::decodeName(path.c_str()));
        dw::PackedFile& packed = files.emplace_back();
        const dw::ExtractResult read = dw::readPackedFile(
            *m_pImage, file, m_lstFiles->GetItemText(row, 3).toLatin1().toStdString(), packed);
        if (!read.status.ok() || read.chainEndedEarly) {
            m_prompts.message(this, read.status.ok()
                                        ? QString::fromLatin1(dw::UnexpectedEndOfChainText)
                                        : text(read.status.text()));
            return {};
        }
    }
    const std::vector<std::uint8_t> block = dw::packFiles(files);
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls(urls);
    mime->setData(QString::fromLatin1(FlexFilesMimeType),
                  QByteArray(reinterpret_cast<const char*>(block.data()),
                             static_cast<qsizetype>(block.size())));
    return mime;
}

void CDiskwrightDlg::OnDragRows() {
    std::unique_ptr<QMimeData> mime = DragData();
    if (!mime)
        return;
    // Qt deletes the drag when it ends.
    auto* drag = new QDrag(m_lstFiles);
    drag->setMimeData(mime.release());
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void CDiskwrightDlg::OnImport() {
    Import(std::nullopt);
}

void CDiskwrightDlg::OnDropFiles(const QStringList& paths) {
    Import(paths);
}

void CDiskwrightDlg::OnDropFlexFiles(const QByteArray& block) {
    if (!m_pImage || RefusedReadOnly())
        return;
    std::vector<dw::PackedFile> files;
    const dw::Status read =
        dw::unpackFiles({reinterpret_cast<const std::uint8_t*>(block.constData()),
                         static_cast<std::size_t>(block.size())},
                        files);
    if (!read.ok()) {
        m_prompts.message(this, QStringLiteral("The dropped files were not copied: ") +
                                    text(read.text()) + QStringLiteral("; nothing was changed."));
        return;
    }
    ImportPrompts questions(m_prompts, this);
    if (RunChange([&] { dw::writePackedFiles(*m_pImage, files, questions); }))
        ReadDirectory();
}

void CDiskwrightDlg::Import(const std::optional<QStringList>& dropped) {
    if (!m_pImage || RefusedReadOnly())
        return;
    dw::ImportOptions options;
    options.stripLineFeeds = m_app.m_bStripLineFeeds;
    options.compressSpaces = m_app.m_bCompressSpaces;
    options.compactBinary = m_app.m_bCompactBinary;
    ImportPrompts questions(m_prompts, this);
    // Once per run of the program, also when declined.
    static bool warned = false;
    if (!dw::confirmCompactionWarning(options, warned, questions))
        return;

    QStringList files;
    if (dropped) {
        files = *dropped;
    } else {
        files = m_prompts.openFileNames(this, m_settings.get(Settings::DefaultImportDir),
                                        QStringLiteral("All files (*)"));
        if (!files.isEmpty())
            StoreFolder(Settings::DefaultImportDir, files.front(),
                        QStringLiteral("the imported files"));
    }
    if (!files.isEmpty()) {
        const bool ran = RunChange([&] {
            // The disk's map is read once for all the files, not again for each.
            dw::ImportSession session(*m_pImage, options, questions);
            for (const QString& file : files)
                session.importFile(nativePath(file));
        });
        if (!ran)
            return;
    }
    ReadDirectory();
}

void CDiskwrightDlg::OnDblclkFileList() {
    if (!m_pImage)
        return;
    const std::vector<int> rows = SelectedRows();
    if (rows.size() != 1)
        return;
    const dw::EntryFields file = RowFields(rows.front());
    std::filesystem::path path;
    dw::ExtractResult result;
    int reason = 0;
    {
        const WaitCursor wait;
        errno = 0;
        result = dw::viewCopy(*m_pImage, file, nativePath(m_settings.get(Settings::TempDir)),
                              m_app.m_bAddLineFeeds, m_app.m_bExpandTabs, path);
        reason = errno;
    }
    TellNotice();
    if (result.status.code() == dw::ErrorCode::OpenFailed) {
        // The copy could not be made: say where, and which folder to look at.
        const dw::Status failed(dw::ErrorCode::OpenFailed,
                                std::string("Unable to open target file ") + path.string());
        m_prompts.message(this, copyFailureText(failed, reason) +
                                    QStringLiteral(". Make sure the temporary folder ") +
                                    QFile::decodeName(path.parent_path().c_str()) +
                                    QStringLiteral(" exists and can be written."));
        return;
    }
    if (!result.status.ok()) {
        m_prompts.message(this, copyFailureText(result.status, reason));
        return;
    }
    if (result.chainEndedEarly)
        m_prompts.message(this, QString::fromLatin1(dw::UnexpectedEndOfChainText));
    if (result.mode == dw::TransferMode::Binary)
        return;
    if (m_app.m_strEditorPath.isEmpty()) {
        m_prompts.message(this, QStringLiteral("No Editor defined"));
        return;
    }
    QString error;
    if (!startEditor(m_app.m_strEditorPath, QFile::decodeName(path.c_str()), error))
        m_prompts.message(this,
                          QStringLiteral("Unable to start the editor ") + m_app.m_strEditorPath +
                              QStringLiteral(": ") + error,
                          Prompts::Icon::Information);
}

// The new path holds until the program ends; only the start-up stores the editor path.
void CDiskwrightDlg::OnEditor() {
    CEditorPathDlg dlg(m_prompts, this);
    dlg.m_strPath = m_app.m_strEditorPath;
    if (m_prompts.runDialog(dlg) == QDialog::Accepted)
        m_app.m_strEditorPath = dlg.m_strPath;
}

void CDiskwrightDlg::OnOptions() {
    COptionsDlg dlg(m_settings, this);
    if (m_prompts.runDialog(dlg) != QDialog::Accepted)
        return;
    m_app.m_bCompactBinary = dlg.m_bCompactBinary;
    m_app.m_bAddLineFeeds = dlg.m_bAddLineFeeds;
    m_app.m_bStripLineFeeds = dlg.m_bStripLineFeeds;
    m_app.m_bCompressSpaces = dlg.m_bCompressSpaces;
    m_app.m_bExpandTabs = dlg.m_bExpandTabs;
    bool saved = m_settings.set(Settings::AddLineFeeds, dlg.m_bAddLineFeeds ? 1 : 0);
    saved = m_settings.set(Settings::ExpandTabs, dlg.m_bExpandTabs ? 1 : 0) && saved;
    saved = m_settings.set(Settings::CompactBinary, dlg.m_bCompactBinary ? 1 : 0) && saved;
    saved = m_settings.set(Settings::StripLineFeeds, dlg.m_bStripLineFeeds ? 1 : 0) && saved;
    saved = m_settings.set(Settings::CompressSpaces, dlg.m_bCompressSpaces ? 1 : 0) && saved;
    if (!saved)
        m_prompts.message(this, QStringLiteral("Unable to save the settings in ") +
                                    m_settings.location() +
                                    QStringLiteral("; the options hold until Diskwright ends."));
}

void CDiskwrightDlg::OnAbout() {
    CAboutDlg about(this);
    m_prompts.runDialog(about);
}

bool CDiskwrightDlg::CanExit() {
    if (m_pAutoProxy && m_pAutoProxy->IsHeld()) {
        hide();
        return false;
    }
    return true;
}

void CDiskwrightDlg::OnCancel() {
    if (CanExit())
        QDialog::reject();
}
