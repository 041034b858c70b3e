#pragma once

// The main window: the volume information and the file list of the open image, and one button
// per command. It owns the open image.

#include "app/DiskwrightApp.h"
#include "app/SettingsStore.h"
#include "engine/DiskImage.h"
#include "engine/RowFields.h"

#include <QDialog>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class CDiskwrightDlgAutoProxy;
class CListCtrlEx;
class Prompts;
class CStatusLamp;
class QAction;
class QGroupBox;
class QLabel;
class QMimeData;
class QPushButton;
class QTemporaryDir;
namespace dw {
struct Listing;
}

class CDiskwrightDlg : public QDialog {
    Q_OBJECT
public:
    // The window reads the settings members of `app` (switches, editor) when a command runs.
    CDiskwrightDlg(CDiskwrightApp& app, Prompts& prompts, SettingsStore& settings,
                   QWidget* parent = nullptr, ImageOpener opener = defaultImageOpener());
    ~CDiskwrightDlg() override;

    // Set by the creator before the window is shown: an image from the command line, and the
    // title that names it.
    void SetImage(std::unique_ptr<dw::DiskImage> image, bool readOnly);
    void SetTitle(const QString& title) { m_strTitle = title; }
    // The automation object of an automation start: while a client holds it, closing hides.
    void SetAutoProxy(CDiskwrightDlgAutoProxy* proxy) { m_pAutoProxy = proxy; }

    // False while an automation client holds the program: the window is then hidden instead.
    bool CanExit();

    // Runs once, when the window is first shown (tests may call it directly).
    bool OnInitDialog();

    int OpenDisk();
    int ReadDirectory();
    void ResetFileList();
    int GetFirstSelectedItem() const;
    bool IsItemSelected(int index) const;

    bool HasImage() const { return m_pImage != nullptr; }
    bool IsReadOnly() const { return m_bReadOnly; }
    int VolumeNumber() const { return m_nVolumeNumber; }
    int FreeSectors() const { return m_nFreeSectors; }

    // What a drag of the selected rows carries: the files as Export writes them, in a folder of
    // this window's own that lasts until the window goes (a file manager copies them after the
    // drop), and the FLEX files themselves. Null, after saying why, when a file could not be
    // written or read.
    std::unique_ptr<QMimeData> DragData();

public slots:
    void OnOpenDisk();
    void OnRefresh();
    void OnDelete();
    void OnExport();
    void OnImport();
    void OnEditor();
    void OnCreateDisk();
    void OnOptions();
    void OnDblclkFileList();
    void OnAbout();
    void OnCancel();
    // F2 and the context menu: the name editor over the current selected row.
    void OnRename();
    // The name editor of `row` ended with `name`: the file is renamed on the disk.
    void OnRenameFile(int row, const QString& name);
    // The list's drags: the selected rows go out as copies; host files dropped come in as
    // Import brings them.
    void OnDragRows();
    void OnDropFiles(const QStringList& paths);
    // Files dragged from another window (a block of engine/FilePack.h) are written into the
    // image with their names, dates and random flags.
    void OnDropFlexFiles(const QByteArray& block);

    // Escape and the close box end here, as the Close button does.
    void reject() override { OnCancel(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    // The template's size is the least; the list takes what the window has beyond it, the
    // buttons keep to the right edge and the volume box to the top.
    void PlaceControls();
    QSize StoredSize() const;
    void StoreSize();
    void SetLamp(int bitmapId);
    void EnableImageButtons();
    int ShowListing(const dw::Listing& listing);
    QString KeptText() const;

    // The commands take their files from the selected rows' texts.
    std::vector<int> SelectedRows() const;
    dw::EntryFields RowFields(int row) const;
    // A command that would change a read-only image says so and changes nothing.
    bool RefusedReadOnly();
    // Says once what the image had to tell (an interrupted change undone).
    void TellNotice();
    // Runs `steps` as one change: the image is this command's alone while they run, and what
    // they wrote goes to the image together at the end. A failure to begin or to write is said;
    // false when the change could not begin (the image busy): nothing ran.
    bool RunChange(const std::function<void()>& steps);
    void StoreFolder(const StringSetting& setting, const QString& path, const QString& what);
    // True when the file was written whole; otherwise the user has been told. Export replaces
    // a file: Save As has asked first, and several files replace without asking.
    bool ExportFile(const dw::EntryFields& file, const std::filesystem::path& destination,
                    bool replaceExisting = true);
    // Import of the files chosen in the Open dialog, or of `dropped` ones.
    void Import(const std::optional<QStringList>& dropped);
    // A new folder for one drag's files inside this window's own; empty after saying why.
    QString NewDragFolder();

    CDiskwrightApp& m_app;
    Prompts& m_prompts;
    SettingsStore& m_settings;
    ImageOpener m_openImage;
    bool m_bInitialised = false;

    int m_nVolumeNumber = 0;
    int m_nFreeSectors = 0;
    QString m_strTitle;
    std::unique_ptr<dw::DiskImage> m_pImage;
    bool m_bReadOnly = false;
    QSize m_sizeTemplate;
    // The controls that keep to the right edge, with their places in the template.
    std::vector<std::pair<QWidget*, QPoint>> m_rightColumn;
    QGroupBox* m_grpVolume = nullptr;

    QPushButton* m_btnRefresh = nullptr;
    CStatusLamp* m_stcStatusLamp = nullptr;
    QPushButton* m_btnOptions = nullptr;
    QPushButton* m_btnEditor = nullptr;
    QPushButton* m_btnCreateDisk = nullptr;
    QLabel* m_stcVolumeLabel = nullptr;
    QLabel* m_stcRemainingSectors = nullptr;
    QLabel* m_stcFileCount = nullptr;
    QLabel* m_stcCreationDate = nullptr;
    CListCtrlEx* m_lstFiles = nullptr;
    QPushButton* m_btnImport = nullptr;
    QPushButton* m_btnExport = nullptr;
    QPushButton* m_btnDelete = nullptr;
    QPushButton* m_btnOpenDisk = nullptr;
    QPushButton* m_btnClose = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actRename = nullptr;
    CDiskwrightDlgAutoProxy* m_pAutoProxy = nullptr;
    // The files of drags out, removed with the window.
    std::unique_ptr<QTemporaryDir> m_dragFolder;
    int m_nDrags = 0;
};
