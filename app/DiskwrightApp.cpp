#include "app/DiskwrightApp.h"

#include <QCommandLineParser>
#include <QFile>

ImageOpener defaultImageOpener() {
    return [](const std::string& path, std::unique_ptr<dw::DiskImage>& out) {
        return dw::DiskImage::open(path, out);
    };
}

std::string nativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

namespace {

void describe(QCommandLineParser& parser) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        QStringLiteral("Lists, exports, imports, renames and deletes the files of FLEX diskette "
                       "images, and makes new ones."));
    parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("The disk image to open."),
                                 QStringLiteral("[IMAGE]"));
    parser.addOption({{QStringLiteral("h"), QStringLiteral("?"), QStringLiteral("help")},
                      QStringLiteral("Shows this help and ends.")});
    parser.addOption({{QStringLiteral("v"), QStringLiteral("version")},
                      QStringLiteral("Shows the version and ends.")});
}

} // namespace

CommandLine CommandLine::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser);
    // Unknown switches make parse() return false; they are passed over all the same.
    parser.parse(QStringList{QStringLiteral("diskwright")} + arguments);

    // The framework's words after "/"; on this platform only the automation ones do anything.
    static const QStringList frameworkSwitches{
        "/Embedding",  "/Automation",  "/Register", "/Regserver",
        "/Unregister", "/Unregserver", "/dde",
    };
    CommandLine line;
    line.help = parser.isSet(QStringLiteral("help"));
    line.version = parser.isSet(QStringLiteral("version"));
    for (const QString& argument : parser.positionalArguments()) {
        if (argument == QLatin1String("/Embedding") || argument == QLatin1String("/Automation"))
            line.automation = true;
        else if (line.image.isEmpty() && !frameworkSwitches.contains(argument))
            line.image = argument;
    }
    for (const QString& name : parser.unknownOptionNames())
        if (name.compare(QLatin1String("Embedding"), Qt::CaseInsensitive) == 0 ||
            name.compare(QLatin1String("Automation"), Qt::CaseInsensitive) == 0)
            line.automation = true;
    return line;
}

QString CommandLine::helpText() {
    QCommandLineParser parser;
    describe(parser);
    // Without an application object Qt cannot know the program's name.
    return parser.helpText().replace(QStringLiteral("<executable_name>"),
                                     QStringLiteral("diskwright"));
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
