#pragma once

#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QSettings;
class QWidget;

// What the program keeps between runs in the user's configuration folder
// (QSettings): how markers look, the windows' sizes and places, the options
// of the windows. Whatever wants a setting kept registers it here under a key;
// a value stored by an earlier run is applied at once.
class RememberedSettings : public QObject
{
    Q_OBJECT

public:
    explicit RememberedSettings(QObject *parent = nullptr);
    ~RememberedSettings() override;

    // The program's settings file, the same for every instance and whatever
    // the program's file is called.
    static std::unique_ptr<QSettings> Open();

    // A value read with get when the settings are stored; set is called now
    // with the stored value, if there is one.
    void Remember(const QString &key, std::function<QVariant()> get,
                  std::function<void(const QVariant &)> set);
    // A checkable action: its stored state is applied now, and each change is
    // stored as it happens.
    void RememberCheckable(QAction *action, const QString &key);
    // Every checkable action of menu, each under prefix + its object name:
    // options added to the menu later are kept without further wiring.
    void RememberCheckables(QMenu *menu, const QString &prefix);
    // A top-level window's size and place.
    void RememberWindow(QWidget *window, const QString &key);

    // Stores every value registered with a getter (windows included).
    void Store();

private:
    struct Entry
    {
        QString key;
        std::function<QVariant()> get;
    };
    std::vector<Entry> entries;
};
