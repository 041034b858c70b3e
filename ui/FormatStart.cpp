#include "ui/FormatStart.h"

#include "app/DiskwrightApp.h"
#include "app/SettingsStore.h"
#include "ui/ProgressDlg.h"
#include "ui/Prompts.h"
#include "ui/WaitCursor.h"

namespace {

// The name as the image and the Save dialog use it: at most 32 characters, a-z made A-Z
// for FLEX.
QString usedVolumeName(const QString& typed, dw::DiskFormat format) {
    QString name = typed.left(static_cast<qsizetype>(dw::MaxVolumeNameLength));
    if (format == dw::DiskFormat::Flex) {
        for (QChar& c : name)
            if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
                c = QChar(c.unicode() - 'a' + 'A');
    }
    return name;
}

} // namespace

void RunFormatStart(QWidget* dialog, Prompts& prompts, SettingsStore& settings,
                    dw::FormatParameters p, const QString& volumeName) {
    const QString name = usedVolumeName(volumeName, p.format);
    p.volumeName = name.toLatin1().toStdString();

    if (const dw::Status limits = dw::checkFormatLimits(p); !limits.ok()) {
        prompts.message(dialog, QString::fromStdString(limits.text()));
        return;
    }

    const QString lastFolder = settings.get(Settings::DefaultFormatDir);
    const QString path =
        prompts.saveFileName(dialog, lastFolder, name, QStringLiteral("Virtual Disk Files (*.dsk)"),
                             QStringLiteral("dsk"));
    if (path.isEmpty())
        return;
    // The folder is remembered even when the image cannot be made there.
    if (folderOf(path) != lastFolder && !settings.set(Settings::DefaultFormatDir, folderOf(path)))
        prompts.message(dialog,
                        QStringLiteral("Unable to save the settings in ") + settings.location() +
                            QStringLiteral("; the folder of the new image was not stored."));

    dw::Status status;
    std::string notice;
    {
        const WaitCursor wait;
        CProgressDlg progress;
        progress.Create(dialog);
        // The Save dialog has asked before replacing a file; an existing file is replaced only
        // when the new image is complete.
        status = dw::createImageFile(nativePath(path), p, dw::currentLocalDate(), progress, true,
                                     &notice);
    }
    // A journal left by an earlier image at this path was set aside, not applied: say where.
    if (!notice.empty())
        prompts.message(dialog, QString::fromStdString(notice));
    if (!status.ok() && status.code() != dw::ErrorCode::Cancelled)
        prompts.message(dialog, QString::fromStdString(status.text()));
}
