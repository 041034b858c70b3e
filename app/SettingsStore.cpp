#include "app/SettingsStore.h"

namespace {
QString key(const char* section, const char* name) {
    return QString::fromLatin1(section) + QLatin1Char('/') + QString::fromLatin1(name);
}
} // namespace

SettingsStore::SettingsStore()
    : settings_(QSettings::NativeFormat, QSettings::UserScope, "LarkspurWorkshop", "Diskwright") {}

QString SettingsStore::get(const StringSetting& setting) const {
    const QVariant value = settings_.value(key(setting.section, setting.name));
    if (!value.isValid() || !value.canConvert<QString>())
        return QString::fromLatin1(setting.defaultValue);
    return value.toString();
}

int SettingsStore::get(const IntSetting& setting) const {
    const QVariant value = settings_.value(key(setting.section, setting.name));
    bool ok = false;
    const int number = value.toInt(&ok);
    return ok ? number : setting.defaultValue;
}

bool SettingsStore::set(const StringSetting& setting, const QString& value) {
    settings_.setValue(key(setting.section, setting.name), value);
    return save();
}

bool SettingsStore::set(const IntSetting& setting, int value) {
    settings_.setValue(key(setting.section, setting.name), value);
    return save();
}

bool SettingsStore::set(std::initializer_list<std::pair<IntSetting, int>> values) {
    // Each save rewrites and syncs the whole file: none when nothing changes.
    bool changed = false;
    for (const auto& [setting, value] : values) {
        if (settings_.contains(key(setting.section, setting.name)) && get(setting) == value)
            continue;
        settings_.setValue(key(setting.section, setting.name), value);
        changed = true;
    }
    return !changed || save();
}

bool SettingsStore::save() {
    settings_.sync();
    return settings_.status() == QSettings::NoError;
}

QString folderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    if (slash == 0)
        return QStringLiteral("/");
    return path.left(slash);
}
