// The type of FLEX images as a desktop sees it: our package next to the system's, compiled by
// update-mime-database when it is there, read through Qt's shared-mime-info reader.

#include "tests/cli/CliRun.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString FlexType = QStringLiteral("application/x-flex-disk-image");

// Another program's type for *.dsk at the default weight: it must win the name from ours.
const char* OtherDskPackage =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
    "  <mime-type type=\"application/x-other-dsk\"><comment>Other disk</comment>\n"
    "    <glob pattern=\"*.dsk\"/></mime-type>\n"
    "</mime-info>\n";

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

class DesktopIntegrationTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_data;
    QTemporaryDir m_images;
    QMimeDatabase m_db;

    QString contentType(const QByteArray& bytes) { return m_db.mimeTypeForData(bytes).name(); }

    QByteArray create(const std::vector<std::string>& options) {
        const std::string path = QDir(m_images.path()).filePath("image").toStdString();
        std::vector<std::string> args{"create", path, "--force", "-q"};
        args.insert(args.end(), options.begin(), options.end());
        const dwtest::CliRun run = dwtest::cli(args);
        if (run.code != 0) {
            qWarning("create failed: %s", run.err.c_str());
            return {}; // not the image an earlier call left there
        }
        return readAll(QString::fromStdString(path));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_data.isValid() && m_images.isValid());
        const QDir packages(m_data.filePath("mime/packages"));
        QVERIFY(QDir().mkpath(packages.path()));
        QVERIFY(QFile::copy(DW_MIME_PACKAGE, packages.filePath("diskwright.xml")));
        QFile other(packages.filePath("other.xml"));
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write(OtherDskPackage) > 0);
        other.close();
        const QString update = QStandardPaths::findExecutable("update-mime-database");
        if (!update.isEmpty())
            QCOMPARE(QProcess::execute(update, {m_data.filePath("mime")}), 0);
        // Searched before the system's types, which stay in the race.
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
        qputenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
        QVERIFY(m_db.mimeTypeForName(FlexType).isValid());
    }

    void theNameAloneWeighsLittle() {
        QVERIFY(m_db.mimeTypeForName(FlexType).globPatterns().contains("*.dsk"));
        QCOMPARE(m_db.mimeTypeForFile("GAMES.DSK", QMimeDatabase::MatchExtension).name(),
                 QString("application/x-other-dsk"));
    }

    void everyFlexImageIsKnownByItsContent() {
        for (const char* tracks : {"35", "40", "80", "256"})
            for (const char* density : {"single", "double", "quad"})
                for (const char* sides : {"1", "2"})
                    for (const char* boot : {"none", "6800", "6809"}) {
                        const QByteArray image = create({"--tracks", tracks, "--density", density,
                                                         "--sides", sides, "--boot", boot});
                        QVERIFY(image.size() > 2048);
                        QCOMPARE(contentType(image), FlexType);
                    }
        // Odd sector counts, and a single-density track 0 under double-density tracks.
        const std::vector<std::vector<std::string>> odd = {
            {"--sectors", "6", "--sides", "1"},  {"--sectors", "7", "--sides", "1"},
            {"--sectors", "26", "--sides", "1"}, {"--sectors", "255", "--sides", "1"},
            {"--track0-sectors", "10"},          {"--track0-sectors", "6", "--sides", "1"}};
        for (const auto& options : odd)
            QCOMPARE(contentType(create(options)), FlexType);
        // An image with files, whatever its name.
        const QString sample = QDir(m_images.path()).filePath("SAMPLE");
        QVERIFY(QFile::copy(DW_SAMPLE_DISK, sample));
        QCOMPARE(m_db.mimeTypeForFile(sample).name(), FlexType);
    }

    void otherImagesAreNotClaimedByContent() {
        QList<QPair<QString, QByteArray>> others;
        for (const char* density : {"single", "double", "quad"})
            others.append({QString("OS9 ") + density,
                           create({"--format", "os9", "--tracks", "80", "--density", density})});
        others.append({"zeros", QByteArray(184320, '\0')});
        others.append({"formatted, never written", QByteArray(184320, char(0xE5))});
        others.append({"erased", QByteArray(184320, char(0xFF))});
        QByteArray cpc = "MV - CPCEMU Disk-File\r\nDisk-Info\r\n";
        cpc.append(QByteArray(256 - cpc.size(), '\0'));
        for (int track = 0; track < 40; ++track)
            cpc.append(QByteArray("Track-Info\r\n").leftJustified(256, '\0'))
                .append(QByteArray(9 * 512, char(0xE5)));
        others.append({"Amstrad CPC", cpc});
        // A directory sector that looks like FLEX's but carries bytes in its header.
        QByteArray almost = create({});
        almost[1035] = 1;
        others.append({"header bytes", almost});
        for (const auto& [what, bytes] : others)
            QVERIFY2(contentType(bytes) != FlexType, qPrintable(what));
    }
};

QTEST_GUILESS_MAIN(DesktopIntegrationTest)
#include "DesktopIntegrationTest.moc"
