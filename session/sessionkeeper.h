#pragma once

#include "session/recoverystore.h"
#include "session/reviewsnapshot.h"
#include "session/sessionrecord.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <functional>
#include <memory>

class CommandLine;
class QTimer;
class QWidget;
class RememberedSettings;
class TFormStrandsight;
class TFormTrackView;

// Keeps a review beyond the windows: saves and opens session files, writes
// the recovery session behind the windows while changes are not saved in a
// session and offers it at the next start, takes tracks out and in as CSV,
// makes pictures of the view, and remembers settings between runs. It works
// the two windows through their public operations and wires the session, CSV
// and picture actions of the view window's File menu.
class SessionKeeper : public QObject
{
    Q_OBJECT

public:
    // recoveryFolder: where recovery sessions go (tests give one of their own).
    explicit SessionKeeper(TFormStrandsight *window,
                           const QString &recoveryFolder = RecoveryStore::DefaultFolder());
    ~SessionKeeper() override;

    // At start-up: offers the reviews that earlier runs left unsaved, newest
    // first ("Restore the review of <date, time>?"), until one is restored.
    // True when the user chose to restore one (it then opens as a session
    // does).
    bool OfferRecovery();
    // At start-up, once the windows are up: a review left unsaved by an
    // earlier run is offered first (restored, it is what the user goes on
    // with); else the command line's session is opened, or its paths loaded.
    void Start(const CommandLine &commandLine);

    // Saves the review at path behind the windows; SessionSaved follows, or a
    // message saying why nothing was written.
    void SaveSession(const QString &path);
    // Opens the session at path: its files are loaded as the Load buttons
    // load them, its changes applied, and the review is put back where it
    // stood. A session that cannot be read is refused, and a file changed
    // since is named for the user to decide; nothing changes then.
    // The loads run behind the windows: SessionOpened follows once the
    // review is back, and Opening() is true until then.
    void OpenSession(const QString &path);
    bool Opening() const { return opening; }
    // The session file the review was last saved to or opened from.
    QString SessionPath() const { return sessionPath; }
    // The review as a session would hold it now.
    SessionRecord CurrentRecord();

    // Whether the review has changes that are not saved in a session.
    bool HasUnsavedChanges() const { return changes != savedChanges; }
    // Something a session holds has changed: the recovery session follows
    // within the autosave delay. Picks, tracks created by hand and the view
    // window's TracksEdited arrive here on their own; other changes to the
    // review call it.
    void NoteChange();
    // At most this long after a change the recovery session is written
    // (a minute unless set).
    void SetAutosaveDelay(int ms);
    // This run's recovery file (it exists only while changes are unsaved).
    QString RecoveryPath() { return recovery.Path(); }

    RememberedSettings *Settings() const { return settings; }

    // The program ends: the settings are stored, and the recovery session is
    // written when changes are unsaved, else removed. Its writing ends before
    // this object is gone.
    void Quitting();

    // What the File menu's CSV and picture actions do once their questions
    // are answered. A failure is reported in a message.
    void ExportCsv(const QString &path, bool shownOnly);
    // Replaces the kinds the table holds as a load does; asks the kind
    // ("Select Fiber Type") when the table has no kind column.
    void ImportCsv(const QString &path);
    void ExportViewImage(const QString &path, bool imagePixels);

signals:
    void SessionSaved(const QString &path);
    void SessionOpened(const QString &path);
    void RecoveryWritten(const QString &path);
    // A CSV table or a picture was written, or a table imported.
    void Exported(const QString &path);
    void Imported(const QString &path);

private:
    struct KindState
    {
        TrackSource source = TrackSource::None;
        std::vector<SessionFile> files;
        std::shared_ptr<const TrackTable> loaded;
    };

    void ConnectWindows();
    void RememberSettings();
    void RememberTrackTable();
    TFormTrackView *View() const;
    QWidget *DialogParent() const;
    KindState &Kind(bool error) { return kinds[error ? 1 : 0]; }

    // What loads and imports leave: the tracks as loaded and where from.
    void TracksReplaced(bool error);
    ReviewSnapshot TakeSnapshot();

    // The File menu's session actions.
    void ChooseSessionToOpen();
    void SaveSessionHere();
    void ChooseSessionToSave();
    void Open(const QString &path, bool recovered);
    bool ConfirmDiscardingChanges(const QString &question);
    bool ConfirmChangedFiles(const QStringList &changed);
    void ApplyRecord(const SessionRecord &record, const QString &path, bool recovered);
    // done runs once the kind is in place, with false when its files could
    // not be loaded (the kind is then emptied).
    void ApplyTracks(const SessionRecord &record, bool error,
                     std::function<void(bool loaded)> done);
    void ApplyChangesAsEdits(bool error, const TrackChanges &changes);
    void ApplyView(const SessionRecord &record);

    // The recovery session.
    void AutosaveDue();
    void WriteRecovery();
    void RemoveRecovery();
    void RecoveryWriteEnded(const QString &path, const QString &failure);

    // The File menu's CSV and picture actions.
    void ChooseCsvExport();
    void ChooseCsvImport();
    void ChooseViewImageExport();
    void ReplaceFromCsv(const QString &path, TrackTable tracks, bool error);
    void ReportImportProblems(const QString &path, qint64 unreadable, const QStringList &rows,
                              qint64 repeated, const QStringList &repeatedRows);
    QString ChooseFile(const QString &caption, const QString &filter, const QString &suffix,
                       bool save, const QString &directory = {});
    void ReportWriteFailure(const QString &path, const QString &why);
    void RunExport(const QString &target, std::function<QString()> write);

    TFormStrandsight *window;
    RememberedSettings *settings;
    KindState kinds[2];
    QStringList imagePaths;
    std::vector<SessionFile> images;
    QString sessionPath;
    // Set while a CSV import replaces a kind: the table it came from.
    QString csvSource;
    bool opening = false;

    // Changes counted, and the count when the review was last saved in a
    // session (or opened): a change made while a save runs stays unsaved.
    quint64 changes = 0;
    quint64 savedChanges = 0;
    RecoveryStore recovery;
    QTimer *autosave;
    int autosaveMs = 60 * 1000;
    bool recoveryFailureShown = false;
    // Recovery writes and removals, one at a time in the order given.
    QThreadPool recoveryWriter;
};
