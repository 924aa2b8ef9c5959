#include "review/tformstrandsight.h"

#include "edit/trackeditor.h"
#include "edit/unsavedchanges.h"
#include "review/tformstrandsightform.h"
#include "tasks/taskrunner.h"
#include "view/tformtrackview.h"
#include "view/trackscene.h"

#include "view/tformtrackviewform.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>

TFormStrandsight::TFormStrandsight(QWidget *parent)
    : QMainWindow(parent)
    , form(new TFormStrandsightForm)
    , tasks(new TaskRunner(this))
    , workingDirectory(QDir::homePath())
{
    form->setupUi(this);
    ConnectForm();

    viewWindow = std::make_unique<TFormTrackView>(nullptr);
    ConnectViewWindow();
    ConnectReviewer();
    ConnectImageLoading();
    AcceptFileDrops(this);
    AcceptFileDrops(viewWindow.get());
    ConnectFileMenu();
    ShowViewForm();
}

TFormStrandsight::~TFormStrandsight()
{
    // The lists empty themselves as they are destroyed, after this window's
    // own part is gone: the counts must not follow them.
    for (QListWidget *list : { form->lwCorr, form->lwErr, form->lwPick })
        list->model()->disconnect(this);
    delete form;
}

// The 23 button connections, in the order of the form. The six Show and Hide
// buttons are wired here to ShowViewForm and only later, by ConnectViewWindow,
// to the scene: receivers run in connection order, so the view window comes
// forward before its markers change.
void TFormStrandsight::ConnectForm()
{
    connect(form->btLoadImage, &QPushButton::clicked, this, &TFormStrandsight::LoadImageSeq);
    connect(form->btSaveInv, &QPushButton::clicked, this, &TFormStrandsight::SaveInvert);
    connect(form->btShowPick, &QPushButton::clicked, this, &TFormStrandsight::ShowPick);
    connect(form->btSelectErr, &QPushButton::clicked, this, &TFormStrandsight::SelectAllError);
    connect(form->btSelectAllPick, &QPushButton::clicked, this, &TFormStrandsight::SelectAllPick);
    connect(form->btUnselectPick, &QPushButton::clicked, this, &TFormStrandsight::UnselectPick);
    connect(form->btLoadCorr, &QPushButton::clicked, this, &TFormStrandsight::LoadCorr);
    connect(form->btLoadErr, &QPushButton::clicked, this, &TFormStrandsight::LoadErr);
    connect(form->btShowAll, &QPushButton::clicked, this, &TFormStrandsight::ShowViewForm);
    connect(form->btHideAll, &QPushButton::clicked, this, &TFormStrandsight::ShowViewForm);
    connect(form->btSelectCorr, &QPushButton::clicked, this, &TFormStrandsight::SelectAllCorr);
    connect(form->btUnselectCorr, &QPushButton::clicked, this, &TFormStrandsight::UnselectCorr);
    connect(form->btShowCorr, &QPushButton::clicked, this, &TFormStrandsight::ShowViewForm);
    connect(form->btHideCorr, &QPushButton::clicked, this, &TFormStrandsight::ShowViewForm);
    connect(form->btPickCorr, &QToolButton::clicked, this, &TFormStrandsight::PickCorr);
    connect(form->btUnselectErr, &QPushButton::clicked, this, &TFormStrandsight::UnselectError);
    connect(form->btShowErr, &QPushButton::clicked, this, &TFormStrandsight::ShowViewForm);
    connect(form->btHideErr, &QPushButton::clicked, this, &TFormStrandsight::ShowViewForm);
    connect(form->btPickErr, &QToolButton::clicked, this, &TFormStrandsight::PickErr);
    connect(form->btRemovePick, &QToolButton::clicked, this, &TFormStrandsight::Remove);
    connect(form->btSave, &QPushButton::clicked, this, &TFormStrandsight::Save);
    connect(form->btRemoveAllPick, &QPushButton::clicked, this, &TFormStrandsight::RemoveAll);
    connect(form->pushButton, &QPushButton::clicked, this, &TFormStrandsight::Directory);
}

void TFormStrandsight::ConnectViewWindow()
{
    TrackScene *scene = viewWindow->scene;
    connect(form->btShowCorr, &QPushButton::clicked, scene, &TrackScene::ShowNormalFibers);
    connect(form->btHideCorr, &QPushButton::clicked, scene, &TrackScene::HideNormalFibers);
    connect(form->btShowErr, &QPushButton::clicked, scene, &TrackScene::ShowErrorFibers);
    connect(form->btHideErr, &QPushButton::clicked, scene, &TrackScene::HideErrorFibers);
    connect(form->btShowAll, &QPushButton::clicked, scene, &TrackScene::ShowAll);
    connect(form->btHideAll, &QPushButton::clicked, scene, &TrackScene::HideAll);
    // Mask is both a signal and a slot of the view window.
    connect(viewWindow.get(),
            qOverload<const std::vector<unsigned int> &, const std::vector<unsigned int> &>(
                &TFormTrackView::Mask),
            this, &TFormStrandsight::ShowMaskedSelection);
    connect(viewWindow.get(), &TFormTrackView::NewFiber, this, &TFormStrandsight::AddNewLabel);

    TrackEditor *editor = viewWindow->Editor();
    editor->SetPickList(form->lwPick);
    connect(viewWindow.get(), &TFormTrackView::TracksEdited, this,
            &TFormStrandsight::FollowEditedIds);
    connect(editor->Changes(), &UnsavedChanges::ModifiedChanged, this,
            &TFormStrandsight::ShowUnsavedChanges);
    // Picks are undone here as well, where they are made.
    addActions(viewWindow->HistoryActions());
}

void TFormStrandsight::ShowUnsavedChanges(bool modified)
{
    setWindowTitle(modified ? tr("Strandsight *") : tr("Strandsight"));
}

void TFormStrandsight::closeEvent(QCloseEvent *event)
{
    if (MayClose(this))
        QMainWindow::closeEvent(event);
    else
        event->ignore();
}

bool TFormStrandsight::MayClose(QWidget *window)
{
    QWidget *other = window == this ? static_cast<QWidget *>(viewWindow.get()) : this;
    if (other->isVisible() || !viewWindow->Editor()->Changes()->IsModified())
        return true;
    QMessageBox box(window);
    box.setObjectName(QStringLiteral("unsavedChangesBox"));
    box.setIcon(QMessageBox::Warning);
    box.setText(tr("The tracks have unsaved changes. Quit anyway?"));
    QPushButton *quit = box.addButton(tr("Quit"), QMessageBox::AcceptRole);
    QPushButton *cancel = box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == quit;
}

// The File menu lives in the view window; its keys work in this window too.
// Its session, CSV and picture actions are wired by the session keeper.
void TFormStrandsight::ConnectFileMenu()
{
    const TFormTrackViewForm *view = viewWindow->Form();
    connect(view->actionShowReviewWindow, &QAction::triggered, this,
            &TFormStrandsight::ShowReviewWindow);
    connect(view->actionQuit, &QAction::triggered, this, &TFormStrandsight::Quit);
    addActions(view->menuFile->actions());
    const QAbstractItemModel *picks = form->lwPick->model();
    connect(picks, &QAbstractItemModel::rowsInserted, this, &TFormStrandsight::PicksChanged);
    connect(picks, &QAbstractItemModel::rowsRemoved, this, &TFormStrandsight::PicksChanged);
    connect(picks, &QAbstractItemModel::modelReset, this, &TFormStrandsight::PicksChanged);
}

void TFormStrandsight::ShowReviewWindow()
{
    show();
    raise();
    activateWindow();
}

void TFormStrandsight::Quit() { QApplication::closeAllWindows(); }

void TFormStrandsight::Directory()
{
    // The process's current directory, not the working directory it is about
    // to replace; and set explicitly, or the dialog would open wherever the
    // last file dialog of the process was.
    QFileDialog dialog(this, tr("Choose a Working Directory"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::DontResolveSymlinks);
    dialog.setDirectory(QDir::currentPath());
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The folder being displayed, not an entry merely highlighted in it.
    workingDirectory = dialog.directory().absolutePath();
}

void TFormStrandsight::ShowViewForm()
{
    viewWindow->RefreshView();
    viewWindow->show();
    viewWindow->raise();
    viewWindow->activateWindow();
}
