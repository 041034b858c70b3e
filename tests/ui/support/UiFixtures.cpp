#include "tests/ui/support/UiFixtures.h"

#include "tests/support/ImageBuilder.h"
#include "ui/DialogUnits.h"
#include "ui/ListCtrlEx.h"
#include "ui/Startup.h"

#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QSettings>

namespace dwtest {

QWidget* control(const QWidget& parent, int id) {
    const QList<QWidget*> children = parent.findChildren<QWidget*>();
    for (QWidget* child : children)
        if (child->property(ControlIdProperty).toInt() == id &&
            child->property(ControlIdProperty).isValid())
            return child;
    QTest::qFail(qPrintable(QStringLiteral("No control with id %1").arg(id)), __FILE__, __LINE__);
    return nullptr;
}

QString controlText(const QWidget& parent, int id) {
    QWidget* widget = control(parent, id);
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    return {};
}

int lampOf(const QWidget& window) {
    QWidget* lamp = control(window, IDC_STATUS_LAMP);
    return lamp ? lamp->property("bitmapId").toInt() : 0;
}

QStringList rowsOf(const QWidget& window) {
    QStringList rows;
    auto* list = controlAs<CListCtrlEx>(window, IDC_FILE_LIST);
    if (!list)
        return rows;
    for (int row = 0; row < list->GetItemCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < list->columnCount(); ++column)
            cells << list->GetItemText(row, column);
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

bool imageButtonsEnabled(const QWidget& window) {
    const bool import = control(window, IDC_IMPORT)->isEnabled();
    for (int id : {IDC_EXPORT, IDC_DELETE, IDC_REFRESH})
        if (control(window, id)->isEnabled() != import)
            QTest::qFail("The image buttons are not all in the same state", __FILE__, __LINE__);
    return import;
}

ImageOpener readOnlyOpener() {
    return [](const std::string& path, std::unique_ptr<dw::DiskImage>& out) {
        return dw::DiskImage::openReadOnly(path, out);
    };
}

QSettings rawSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "LarkspurWorkshop",
                     "Diskwright");
}

void clearSettings() {
    QSettings settings = rawSettings();
    settings.clear();
    settings.sync();
}

ScriptedWindow::ScriptedWindow(const QStringList& arguments, const ImageOpener& opener)
    : owner(makeMainWindow(app, prompts, settings, arguments, opener)), dlg(*owner) {
    dlg.OnInitDialog();
}

void ScriptedWindow::press(int id) const {
    QTest::mouseClick(control(dlg, id), Qt::LeftButton);
}

void checkPlaces(const QWidget& dialog, std::initializer_list<Placed> placed, bool tabOrder) {
    const DialogUnits units(dialog.font());
    const Placed* previous = nullptr;
    for (const Placed& p : placed) {
        QWidget* widget = control(dialog, p.id);
        QCOMPARE(widget->geometry(), units.rect(p.x, p.y, p.cx, p.cy));
        QCOMPARE(controlText(dialog, p.id), QString(p.text));
        if (tabOrder && previous) {
            QWidget* next = control(dialog, previous->id)->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus)
                next = next->nextInFocusChain();
            QCOMPARE(next, widget);
        }
        previous = &p;
    }
}

QString newFolder(const std::string& name) {
    return QString::fromStdString(tempFolder(name).string());
}

QStringList filesIn(const QString& folder) {
    QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    files.sort();
    return files;
}

QString fileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace dwtest
