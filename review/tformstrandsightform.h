#pragma once

class QGroupBox;
class QLabel;
class QListWidget;
class QMainWindow;
class QPushButton;
class QToolButton;
class QWidget;

// The review window's 37 widgets, built once by setupUi at fixed positions (the
// window has no layouts and cannot be resized); the widgets belong to the window,
// these pointers only find them.
class TFormStrandsightForm
{
public:
    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);

    QWidget *centralwidget = nullptr;
    QListWidget *lwCorr = nullptr;
    QListWidget *lwPick = nullptr;
    QListWidget *lwErr = nullptr;
    QLabel *lbPick = nullptr;
    QLabel *lbError = nullptr;
    QLabel *lbCorr = nullptr;
    QGroupBox *pickControls = nullptr;
    QToolButton *btRemovePick = nullptr;
    QPushButton *btSelectAllPick = nullptr;
    QPushButton *btUnselectPick = nullptr;
    QPushButton *btShowPick = nullptr;
    QPushButton *btRemoveAllPick = nullptr;
    QGroupBox *Save = nullptr;
    QPushButton *btSaveInv = nullptr;
    QPushButton *btSave = nullptr;
    QGroupBox *Correct = nullptr;
    QPushButton *btSelectCorr = nullptr;
    QPushButton *btUnselectCorr = nullptr;
    QPushButton *btShowCorr = nullptr;
    QPushButton *btHideCorr = nullptr;
    QToolButton *btPickCorr = nullptr;
    QGroupBox *Error = nullptr;
    QPushButton *btUnselectErr = nullptr;
    QPushButton *btSelectErr = nullptr;
    QPushButton *btShowErr = nullptr;
    QPushButton *btHideErr = nullptr;
    QToolButton *btPickErr = nullptr;
    QGroupBox *LoadTracks = nullptr;
    QPushButton *btLoadCorr = nullptr;
    QPushButton *btLoadErr = nullptr;
    QPushButton *btLoadImage = nullptr;
    QGroupBox *AllTracks = nullptr;
    QPushButton *btShowAll = nullptr;
    QPushButton *btHideAll = nullptr;
    QGroupBox *groupBox = nullptr;
    QPushButton *pushButton = nullptr;
};
