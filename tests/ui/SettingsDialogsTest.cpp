#include "app/SettingsStore.h"
#include "tests/ui/support/RunDialog.h"
#include "tests/ui/support/ScriptedPrompts.h"
#include "tests/ui/support/UiFixtures.h"
#include "ui/DialogUnits.h"
#include "ui/DiskwrightDlg.h"
#include "ui/EditorPathDlg.h"
#include "ui/OptionsDlg.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace dwtest;

namespace {

QString editText(const QWidget& dlg) {
    return controlAs<QLineEdit>(dlg, IDC_EDITOR_PATH)->text();
}

} // namespace

class SettingsDialogsTest : public QObject {
    Q_OBJECT
private slots:
    void init() { clearSettings(); }

    void layoutsFollowTheirTemplates() {
        ScriptedPrompts prompts;
        CEditorPathDlg editor(prompts);
        SettingsStore settings;
        COptionsDlg options(settings);
        QCOMPARE(editor.windowTitle(), QString("Select Editor Program"));
        QCOMPARE(editor.size(), DialogUnits(editor.font()).size(260, 68));
        QCOMPARE(options.windowTitle(), QString("Configuration Options"));
        QCOMPARE(options.size(), DialogUnits(options.font()).size(287, 89));
        for (const QDialog* dialog :
             {static_cast<QDialog*>(&editor), static_cast<QDialog*>(&options)})
            QVERIFY(controlAs<QPushButton>(*dialog, IDOK)->isDefault());
        checkPlaces(editor,
                    {{IDOK, "OK", 72, 47, 50, 14},
                     {IDCANCEL, "Cancel", 138, 47, 50, 14},
                     {IDC_STATIC,
                      "Enter the full path and name to the editor you want to use to open text "
                      "files",
                      7, 13, 246, 8},
                     {IDC_EDITOR_PATH, "", 7, 25, 218, 13},
                     {IDC_BROWSE, "...", 228, 25, 18, 14}});

        checkPlaces(
            options,
            {{IDOK, "OK", 85, 68, 50, 14},
             {IDCANCEL, "Cancel", 151, 68, 50, 14},
             {IDC_ADD_LINE_FEEDS, "Add Linefeeds during Export", 13, 17, 105, 10},
             {IDC_STRIP_LINE_FEEDS, "Strip Linefeeds during Import", 13, 29, 105, 10},
             {IDC_COMPACT_BINARY, "Compact Binary Files during Import/Export", 13, 41, 147, 10},
             {IDC_EXPAND_TABS, "Expand Tabs during Export", 159, 18, 101, 10},
             {IDC_COMPRESS_SPACES, "Compress Spaces during Import", 159, 29, 115, 10}});
        auto* group = options.findChild<QGroupBox*>();
        QVERIFY(group && group->title().isEmpty());
        QCOMPARE(group->geometry(), DialogUnits(options.font()).rect(7, 7, 273, 51));
    }

    void browseStartsInTheFolderTheDialogOpenedWith_data() {
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QString>("folder");
        const QString longFolder = "/" + QString(300, 'd') + "/" + QString(200, 'e');
        QTest::newRow("full path") << QString("/usr/bin/vi") << QString("/usr/bin");
        QTest::newRow("root") << QString("/vi") << QString("/");
        QTest::newRow("name only") << QString("gedit") << QString("");
        QTest::newRow("empty") << QString("") << QString("");
        QTest::newRow("longer than 260") << longFolder + "/editor" << longFolder;
    }

    void browseStartsInTheFolderTheDialogOpenedWith() {
        QFETCH(QString, opened);
        QFETCH(QString, folder);
        ScriptedPrompts prompts;
        CEditorPathDlg dlg(prompts);
        dlg.m_strPath = opened;
        dlg.show();
        QCOMPARE(editText(dlg), opened);

        // What was typed since does not move the start; Cancel keeps the typed text.
        QTest::keyClicks(control(dlg, IDC_EDITOR_PATH), "/typed/since");
        prompts.expectOpenFile({});
        QTest::mouseClick(control(dlg, IDC_BROWSE), Qt::LeftButton);
        QCOMPARE(editText(dlg), opened + "/typed/since");

        const QString chosen = folder + "/chosen editor";
        prompts.expectOpenFile(chosen);
        QTest::mouseClick(control(dlg, IDC_BROWSE), Qt::LeftButton);
        QCOMPARE(prompts.openFolders, QStringList({folder, folder}));
        QCOMPARE(editText(dlg), chosen);
        QCOMPARE(dlg.m_strPath, opened); // the edit box only, until OK

        QTest::mouseClick(control(dlg, IDOK), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(dlg.m_strPath, chosen);
        QVERIFY(prompts.allShown());
    }

    void optionsCancelChangesNothingAndOkWritesAllFive() {
        {
            QSettings raw = rawSettings();
            raw.setValue("Diskwright/ExpandTabs", 0);
        }
        ScriptedWindow w;
        CDiskwrightApp& app = w.app;
        // The boxes start from the stored values, not from the members.
        app.m_bAddLineFeeds = false;

        auto checkBoxes = [](COptionsDlg& options, std::vector<bool> expected) {
            const int ids[] = {IDC_ADD_LINE_FEEDS, IDC_EXPAND_TABS, IDC_COMPACT_BINARY,
                               IDC_STRIP_LINE_FEEDS, IDC_COMPRESS_SPACES};
            for (std::size_t i = 0; i < expected.size(); ++i)
                QCOMPARE(controlAs<QCheckBox>(options, ids[i])->isChecked(), bool(expected[i]));
        };
        w.prompts.expectDialog(runAs<COptionsDlg>([&](COptionsDlg& options) {
            checkBoxes(options, {true, false, false, true, true});
            controlAs<QCheckBox>(options, IDC_COMPACT_BINARY)->click();
            QTest::mouseClick(control(options, IDCANCEL), Qt::LeftButton);
        }));
        w.press(IDC_OPTIONS);
        QVERIFY(!app.m_bAddLineFeeds && !app.m_bCompactBinary && app.m_bStripLineFeeds &&
                app.m_bCompressSpaces && !app.m_bExpandTabs);
        QCOMPARE(rawSettings().allKeys(), QStringList{"Diskwright/ExpandTabs"});

        w.prompts.expectDialog(runAs<COptionsDlg>([&](COptionsDlg& options) {
            controlAs<QCheckBox>(options, IDC_COMPACT_BINARY)->click();
            controlAs<QCheckBox>(options, IDC_STRIP_LINE_FEEDS)->click();
            QTest::mouseClick(control(options, IDOK), Qt::LeftButton);
        }));
        w.press(IDC_OPTIONS);
        QVERIFY(app.m_bAddLineFeeds && app.m_bCompactBinary && !app.m_bStripLineFeeds &&
                app.m_bCompressSpaces && !app.m_bExpandTabs);
        QSettings raw = rawSettings();
        raw.beginGroup("Diskwright");
        QCOMPARE(raw.childKeys().size(), 5);
        for (const char* on : {"Add Line Feeds", "Compact Binary", "Compress Spaces"})
            QCOMPARE(raw.value(on).toInt(), 1);
        for (const char* off : {"ExpandTabs", "Strip Line Feeds"})
            QCOMPARE(raw.value(off).toInt(), 0);
        QVERIFY(w.prompts.allShown());
    }
};

DW_UI_TEST_MAIN(SettingsDialogsTest)
#include "SettingsDialogsTest.moc"
