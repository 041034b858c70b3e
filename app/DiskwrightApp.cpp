#include "app/DiskwrightApp.h"

#include <QFile>

ImageOpener defaultImageOpener() {
    return [](const std::string& path, std::unique_ptr<dw::DiskImage>& out) {
        return dw::DiskImage::open(path, out);
    };
}

std::string nativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString CDiskwrightApp::imageArgument(const QStringList& arguments) {
    // The words the framework's parser knows; on this platform they have no effect.
    static const QStringList frameworkSwitches{
        "/Embedding",  "/Automation",  "/Register", "/Regserver",
        "/Unregister", "/Unregserver", "/dde",
    };
    for (const QString& argument : arguments) {
        if (argument.startsWith(QLatin1Char('-')) || frameworkSwitches.contains(argument))
            continue;
        return argument;
    }
    return {};
}

bool CDiskwrightApp::IsAutomationStart(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("/Embedding") || argument == QLatin1String("/Automation"))
            return true;
        if (argument.compare(QLatin1String("-Embedding"), Qt::CaseInsensitive) == 0 ||
            argument.compare(QLatin1String("-Automation"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void CDiskwrightApp::LoadSettings(const SettingsStore& store) {
    m_strEditorPath = store.get(Settings::EditorPath);
    m_bAddLineFeeds = store.get(Settings::AddLineFeeds) != 0;
    m_bExpandTabs = store.get(Settings::ExpandTabs) != 0;
    m_bCompactBinary = store.get(Settings::CompactBinary) != 0;
    m_bStripLineFeeds = store.get(Settings::StripLineFeeds) != 0;
    m_bCompressSpaces = store.get(Settings::CompressSpaces) != 0;
}

bool CDiskwrightApp::SaveSettings(SettingsStore& store) const {
    bool saved = store.set(Settings::EditorPath, m_strEditorPath);
    saved = store.set(Settings::AddLineFeeds, m_bAddLineFeeds ? 1 : 0) && saved;
    saved = store.set(Settings::ExpandTabs, m_bExpandTabs ? 1 : 0) && saved;
    saved = store.set(Settings::CompactBinary, m_bCompactBinary ? 1 : 0) && saved;
    saved = store.set(Settings::StripLineFeeds, m_bStripLineFeeds ? 1 : 0) && saved;
    saved = store.set(Settings::CompressSpaces, m_bCompressSpaces ? 1 : 0) && saved;
    return saved;
}

StartupImage CDiskwrightApp::OpenCommandLineImage(const QStringList& arguments,
                                                  const ImageOpener& opener) const {
    StartupImage result;
    const QString path = imageArgument(arguments);
    result.title = QStringLiteral("Diskwright: ") + path;
    if (path.isEmpty())
        return result;
    if (opener(nativePath(path), result.image).ok())
        result.readOnly = result.image->readOnly();
    else
        result.image.reset();
    return result;
}
