#include "session/rememberedsettings.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QSettings>
#include <QWidget>

RememberedSettings::RememberedSettings(QObject *parent)
    : QObject(parent)
{
}

RememberedSettings::~RememberedSettings() = default;

std::unique_ptr<QSettings> RememberedSettings::Open()
{
    return std::make_unique<QSettings>(QSettings::UserScope, QStringLiteral("strandsight"),
                                       QStringLiteral("strandsight"));
}

void RememberedSettings::Remember(const QString &key, std::function<QVariant()> get,
                                  std::function<void(const QVariant &)> set)
{
    const std::unique_ptr<QSettings> settings = Open();
    if (set && settings->contains(key))
        set(settings->value(key));
    if (get)
        entries.push_back({ key, std::move(get) });
}

void RememberedSettings::RememberCheckable(QAction *action, const QString &key)
{
    const std::unique_ptr<QSettings> settings = Open();
    const QVariant stored = settings->value(key);
    if (stored.isValid())
        action->setChecked(stored.toBool());
    connect(action, &QAction::toggled, this,
            [key](bool checked) { Open()->setValue(key, checked); });
}

void RememberedSettings::RememberCheckables(QMenu *menu, const QString &prefix)
{
    for (QAction *action : menu->actions()) {
        if (action->isCheckable() && !action->objectName().isEmpty())
            RememberCheckable(action, prefix + action->objectName());
    }
}

void RememberedSettings::RememberWindow(QWidget *window, const QString &key)
{
    const QPointer<QWidget> guarded(window);
    Remember(
        key, [guarded] { return guarded ? QVariant(guarded->saveGeometry()) : QVariant(); },
        [guarded](const QVariant &value) {
            if (guarded)
                guarded->restoreGeometry(value.toByteArray());
        });
}

void RememberedSettings::Store()
{
    const std::unique_ptr<QSettings> settings = Open();
    for (const Entry &entry : entries) {
        const QVariant value = entry.get();
        if (value.isValid())
            settings->setValue(entry.key, value);
    }
}
