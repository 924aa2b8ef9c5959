#pragma once

#include "model/tracktypes.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <type_traits>

class QListWidget;
class QWidget;
class TFormStrandsight;

namespace TestSupport {

// Runs handler on the next modal widget (dialog, message box, file dialog) as
// soon as it is shown, polling from the event loop; gives up after timeoutMs.
// A progress window is never taken for the answer: it is no prompt.
// To answer a dialog that a click opens, register the next answer before the
// click: the click only returns once the nested dialog has been closed.
void AnswerNextModal(const std::function<void(QWidget *)> &handler, int timeoutMs = 10000);

// Writes count small images name000.png .. into directory and returns their
// absolute paths in name order.
QStringList WriteImages(const QString &directory, int count, int width = 64, int height = 48,
                        const QString &name = QStringLiteral("img"));

// Starts loading files as the image sequence of window, as the load button
// would, and waits until the load has ended (its progress window, if any,
// closed); true when the sequence was replaced. Messages the load shows must
// be answered by the caller (ModalScript).
bool LoadImagesAndWait(TFormStrandsight *window, const QStringList &files, int timeoutMs = 60000);

// Writes text to path (creating it), returning false on failure.
bool WriteText(const QString &path, const QByteArray &text);

// Writes text to directory/relative, making the folders on the way; warns
// when it cannot. Returns the path.
QString WriteIn(const QString &directory, const QString &relative, const QByteArray &text = {});

// The texts of a list's entries in list order (only the selected ones if
// asked).
QStringList ListTexts(const QListWidget *list, bool selectedOnly = false);

// Reads a whole file; empty when missing.
QByteArray ReadAll(const QString &path);

// Answers a sequence of modal widgets in the order they appear, one step per
// widget shown, including nested dialogs and a dialog shown again after a
// message box. Start it before the call that opens the first one. Widgets that
// appear after the last step, or none appearing within timeoutMs, are rejected
// and counted as failures so that a wrong prompt order cannot hang a test; so
// is a widget of another class than its step expects, once timeoutMs passed.
class ModalScript
{
public:
    // One answer. Made from a bare handler it takes the next modal widget of
    // any class but a progress window; Expect<Class> takes only a widget of
    // that class and leaves any other alone (under load a progress window can
    // open first, and answering it instead cancels the load).
    struct Step
    {
        template <typename Handler,
                  typename = std::enable_if_t<std::is_invocable_v<Handler, QWidget *>>>
        Step(Handler handler)
            : handler(std::move(handler))
        {
        }
        Step(const QMetaObject *type, std::function<void(QWidget *)> handler)
            : type(type)
            , handler(std::move(handler))
        {
        }
        void operator()(QWidget *widget) const { handler(widget); }
        const QMetaObject *type = nullptr;
        std::function<void(QWidget *)> handler;
    };
    template <typename Widget> static Step Expect(std::function<void(Widget *)> handler)
    {
        return Step(&Widget::staticMetaObject,
                    [handler](QWidget *widget) { handler(static_cast<Widget *>(widget)); });
    }

    explicit ModalScript(QList<Step> steps, int timeoutMs = 10000);
    ~ModalScript();

    // Class names of the widgets answered, in order.
    QStringList Seen() const;
    // Number of steps that ran; equals the number of steps when all were used.
    int Done() const;
    // Modal widgets that had no step left, or a step never reached in time.
    bool Failed() const;

private:
    struct State;
    std::shared_ptr<State> state;
};

// Mouse input on a widget (for a graphics view, its viewport): a left-button
// press, moves with the button held, release.
void DragOnWidget(QWidget *widget, QPoint from, QPoint to);
// A left click, press and release, at pos.
void ClickOnWidget(QWidget *widget, QPoint pos);

// Qt's own file dialog (offscreen): shows directory and types the names into
// its file-name field, quoted when there are several, then accepts.
void ChooseFiles(QWidget *fileDialog, const QString &directory, const QStringList &names);
// Accepts a directory-mode file dialog showing directory.
void ChooseDirectory(QWidget *fileDialog, const QString &directory);
// Closes a dialog as cancel (Escape, the close button or a Cancel button).
void RejectDialog(QWidget *dialog);
// Answers the base-filename prompt of a save with base and Submit; any other
// dialog fails the test and is cancelled.
std::function<void(QWidget *)> SubmitBase(const QString &base);

// Loads a track set into the window as its load buttons do, behind the
// windows, and waits for the load to end (messages it shows must be answered,
// by a ModalScript say). True when the kind was replaced; false when the load
// failed, was cancelled or did not end within timeoutMs.
bool LoadTracksAndWait(TFormStrandsight *window, const QStringList &files, bool error,
                       int timeoutMs = 60000);
// Waits until the window's long work (loads, saves) has all ended.
bool WaitForTasks(TFormStrandsight *window, int timeoutMs = 60000);

// A table as text: "3:0(1.5,2)1(2,3) 7:..." with ids and images ascending.
QString DescribeTracks(const TrackTable &table);

// One track-file record "x<TAB>y<TAB>id<LF>", as the program writes it.
QByteArray TrackRecord(double x, double y, unsigned int id);

} // namespace TestSupport
