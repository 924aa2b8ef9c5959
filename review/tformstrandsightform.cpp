#include "review/tformstrandsightform.h"

#include <QAbstractItemView>
#include <QBrush>
#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPalette>
#include <QPushButton>
#include <QSizePolicy>
#include <QToolButton>
#include <QWidget>

namespace {

// The same palette goes on the window and, as a copy, on the Error group box.
QPalette ReviewPalette()
{
    struct Entry
    {
        QPalette::ColorRole role;
        QColor active;
        QColor disabled; // the inactive group always equals the active one
    };
    const QColor black(0, 0, 0);
    const QColor white(255, 255, 255);
    const QColor grey120(120, 120, 120);
    const QColor grey240(240, 240, 240);
    const QColor grey247(247, 247, 247);
    const Entry entries[] = {
        { QPalette::WindowText, black, grey120 },
        { QPalette::Button, grey240, grey240 },
        { QPalette::Light, white, white },
        { QPalette::Midlight, grey247, grey247 },
        { QPalette::Dark, grey120, grey120 },
        { QPalette::Mid, QColor(160, 160, 160), QColor(160, 160, 160) },
        { QPalette::Text, black, grey120 },
        { QPalette::BrightText, white, white },
        { QPalette::ButtonText, black, grey120 },
        { QPalette::Base, white, grey240 },
        { QPalette::Window, grey240, grey240 },
        { QPalette::Shadow, black, black },
        { QPalette::AlternateBase, grey247, grey240 },
        { QPalette::ToolTipBase, QColor(255, 255, 220), QColor(255, 255, 220) },
        { QPalette::ToolTipText, black, black },
    };
    QPalette palette;
    for (const Entry &entry : entries) {
        palette.setBrush(QPalette::Active, entry.role, QBrush(entry.active, Qt::SolidPattern));
        palette.setBrush(QPalette::Inactive, entry.role, QBrush(entry.active, Qt::SolidPattern));
        palette.setBrush(QPalette::Disabled, entry.role, QBrush(entry.disabled, Qt::SolidPattern));
    }
    return palette;
}

QFont DeskFont()
{
    QFont font;
    font.setFamilies({ QStringLiteral(".Helvetica Neue DeskInterface") });
    font.setPointSize(10);
    return font;
}

QFont LabelFont()
{
    QFont font = DeskFont();
    font.setWeight(QFont::Normal);
    return font;
}

QListWidget *MakeTrackList(QWidget *parent, const char *name, int x, const QFont &font)
{
    auto *list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setGeometry(x, 50, 141, 311);
    list->setFont(font);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    list->setSortingEnabled(true);
    // Every entry is one line of the same font: with uniform sizes the view
    // lays out hundreds of thousands of ids without measuring each one.
    list->setUniformItemSizes(true);
    return list;
}

QLabel *MakeListLabel(QWidget *parent, const char *name, int x, const QFont &font)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(x, 20, 141, 31);
    label->setFont(font);
    label->setAutoFillBackground(true);
    label->setFrameShape(QFrame::StyledPanel);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QGroupBox *MakeGroup(QWidget *parent, const char *name, const QRect &geometry, const QFont &font)
{
    auto *group = new QGroupBox(parent);
    group->setObjectName(QString::fromLatin1(name));
    group->setGeometry(geometry);
    group->setFont(font);
    group->setAutoFillBackground(true);
    group->setAlignment(Qt::AlignCenter);
    return group;
}

template <typename Button>
Button *MakeButton(QGroupBox *group, const char *name, int y, int width, const QFont &font)
{
    auto *button = new Button(group);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(0, y, width, 21);
    button->setFont(font);
    return button;
}

} // namespace

void TFormStrandsightForm::setupUi(QMainWindow *window)
{
    if (window->objectName().isEmpty())
        window->setObjectName(QStringLiteral("TFormStrandsight"));
    window->setWindowModality(Qt::NonModal);
    window->setEnabled(true);
    window->resize(800, 380);
    QSizePolicy fixedPolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    fixedPolicy.setHorizontalStretch(0);
    fixedPolicy.setVerticalStretch(0);
    fixedPolicy.setHeightForWidth(window->sizePolicy().hasHeightForWidth());
    window->setSizePolicy(fixedPolicy);
    window->setMinimumSize(800, 380);
    window->setMaximumSize(800, 380);
    const QPalette palette = ReviewPalette();
    window->setPalette(palette);
    QFont windowFont;
    windowFont.setFamilies({ QStringLiteral("Calibri") });
    window->setFont(windowFont);

    const QFont deskFont = DeskFont();
    const QFont labelFont = LabelFont();

    centralwidget = new QWidget(window);
    centralwidget->setObjectName(QStringLiteral("centralwidget"));
    centralwidget->setSizePolicy(fixedPolicy);
    QFont centralFont;
    centralFont.setFamilies({ QStringLiteral("Calibri") });
    centralFont.setPointSize(8);
    centralFont.setKerning(true);
    centralFont.setStyleStrategy(QFont::PreferDefault);
    centralwidget->setFont(centralFont);

    lwCorr = MakeTrackList(centralwidget, "lwCorr", 110, deskFont);
    lwPick = MakeTrackList(centralwidget, "lwPick", 640, deskFont);
    lwErr = MakeTrackList(centralwidget, "lwErr", 370, deskFont);
    lbPick = MakeListLabel(centralwidget, "lbPick", 640, labelFont);
    lbError = MakeListLabel(centralwidget, "lbError", 370, labelFont);
    lbCorr = MakeListLabel(centralwidget, "lbCorr", 110, labelFont);

    pickControls = MakeGroup(centralwidget, "pickControls", QRect(530, 150, 91, 151), deskFont);
    btRemovePick = MakeButton<QToolButton>(pickControls, "btRemovePick", 110, 91, deskFont);
    btSelectAllPick = MakeButton<QPushButton>(pickControls, "btSelectAllPick", 30, 91, deskFont);
    btUnselectPick = MakeButton<QPushButton>(pickControls, "btUnselectPick", 50, 91, deskFont);
    btShowPick = MakeButton<QPushButton>(pickControls, "btShowPick", 80, 91, deskFont);
    btRemoveAllPick = MakeButton<QPushButton>(pickControls, "btRemoveAllPick", 130, 91, deskFont);

    Save = MakeGroup(centralwidget, "Save", QRect(530, 40, 91, 81), deskFont);
    btSaveInv = MakeButton<QPushButton>(Save, "btSaveInv", 50, 91, deskFont);
    btSave = MakeButton<QPushButton>(Save, "btSave", 30, 91, deskFont);

    Correct = MakeGroup(centralwidget, "Correct", QRect(270, 30, 81, 151), deskFont);
    Correct->setLayoutDirection(Qt::LeftToRight);
    btSelectCorr = MakeButton<QPushButton>(Correct, "btSelectCorr", 30, 81, deskFont);
    btUnselectCorr = MakeButton<QPushButton>(Correct, "btUnselectCorr", 50, 81, deskFont);
    btShowCorr = MakeButton<QPushButton>(Correct, "btShowCorr", 80, 81, deskFont);
    btHideCorr = MakeButton<QPushButton>(Correct, "btHideCorr", 100, 81, deskFont);
    btPickCorr = MakeButton<QToolButton>(Correct, "btPickCorr", 130, 81, deskFont);

    QFont errorFont = labelFont;
    errorFont.setUnderline(false);
    Error = MakeGroup(centralwidget, "Error", QRect(270, 210, 81, 151), errorFont);
    Error->setMaximumSize(16777215, 151);
    Error->setPalette(palette);
    Error->setFlat(false);
    Error->setCheckable(false);
    btUnselectErr = MakeButton<QPushButton>(Error, "btUnselectErr", 50, 81, deskFont);
    btSelectErr = MakeButton<QPushButton>(Error, "btSelectErr", 30, 81, deskFont);
    btShowErr = MakeButton<QPushButton>(Error, "btShowErr", 80, 81, deskFont);
    btHideErr = MakeButton<QPushButton>(Error, "btHideErr", 100, 81, deskFont);
    btPickErr = MakeButton<QToolButton>(Error, "btPickErr", 130, 81, deskFont);

    LoadTracks = MakeGroup(centralwidget, "LoadTracks", QRect(10, 30, 81, 101), deskFont);
    btLoadCorr = MakeButton<QPushButton>(LoadTracks, "btLoadCorr", 60, 81, deskFont);
    btLoadErr = MakeButton<QPushButton>(LoadTracks, "btLoadErr", 80, 81, deskFont);
    btLoadImage = MakeButton<QPushButton>(LoadTracks, "btLoadImage", 30, 81, deskFont);

    AllTracks = MakeGroup(centralwidget, "AllTracks", QRect(10, 160, 81, 71), deskFont);
    AllTracks->setLayoutDirection(Qt::LeftToRight);
    btShowAll = MakeButton<QPushButton>(AllTracks, "btShowAll", 30, 81, deskFont);
    btHideAll = MakeButton<QPushButton>(AllTracks, "btHideAll", 50, 81, deskFont);

    groupBox = MakeGroup(centralwidget, "groupBox", QRect(10, 260, 91, 51), deskFont);
    pushButton = MakeButton<QPushButton>(groupBox, "pushButton", 30, 91, deskFont);
    pushButton->setAutoExclusive(false);
    pushButton->setDefault(false);

    window->setCentralWidget(centralwidget);
    retranslateUi(window);
}

void TFormStrandsightForm::retranslateUi(QMainWindow *window)
{
    window->setWindowTitle(QCoreApplication::translate("TFormStrandsight", "Strandsight"));
    lbPick->setText(QCoreApplication::translate("TFormStrandsight", "Picked Tracks"));
    lbError->setText(QCoreApplication::translate("TFormStrandsight", "Error Tracks"));
    lbCorr->setText(QCoreApplication::translate("TFormStrandsight", "Non-Error Tracks"));
    pickControls->setTitle(QCoreApplication::translate("TFormStrandsight", "Picks"));
    btRemovePick->setText(QCoreApplication::translate("TFormStrandsight", "Remove"));
    btSelectAllPick->setText(QCoreApplication::translate("TFormStrandsight", "Select All"));
    btUnselectPick->setText(QCoreApplication::translate("TFormStrandsight", "Deselect"));
    btShowPick->setText(QCoreApplication::translate("TFormStrandsight", "Show"));
    btRemoveAllPick->setText(QCoreApplication::translate("TFormStrandsight", "Remove All"));
    Save->setTitle(QCoreApplication::translate("TFormStrandsight", "Save"));
    btSaveInv->setText(QCoreApplication::translate("TFormStrandsight", "Inverse"));
    btSave->setText(QCoreApplication::translate("TFormStrandsight", "Picks"));
    Correct->setTitle(QCoreApplication::translate("TFormStrandsight", "Non-Error"));
    btSelectCorr->setText(QCoreApplication::translate("TFormStrandsight", "Select All"));
    btUnselectCorr->setText(QCoreApplication::translate("TFormStrandsight", "Deselect"));
    btShowCorr->setText(QCoreApplication::translate("TFormStrandsight", "Show"));
    btHideCorr->setText(QCoreApplication::translate("TFormStrandsight", "Hide"));
    btPickCorr->setText(QCoreApplication::translate("TFormStrandsight", "Pick"));
    Error->setTitle(QCoreApplication::translate("TFormStrandsight", "Error"));
    btUnselectErr->setText(QCoreApplication::translate("TFormStrandsight", "Deselect"));
    btSelectErr->setText(QCoreApplication::translate("TFormStrandsight", "Select All"));
    btShowErr->setText(QCoreApplication::translate("TFormStrandsight", "Show"));
    btHideErr->setText(QCoreApplication::translate("TFormStrandsight", "Hide"));
    btPickErr->setText(QCoreApplication::translate("TFormStrandsight", "Pick"));
    LoadTracks->setTitle(QCoreApplication::translate("TFormStrandsight", "Load"));
    btLoadCorr->setToolTip(QCoreApplication::translate(
        "TFormStrandsight", "Load a set files containing non-error track data."));
    btLoadCorr->setText(QCoreApplication::translate("TFormStrandsight", "Non-Error"));
    btLoadErr->setToolTip(QCoreApplication::translate(
        "TFormStrandsight", "Load a set of files containing error track data."));
    btLoadErr->setText(QCoreApplication::translate("TFormStrandsight", "Error"));
    btLoadImage->setToolTip(
        QCoreApplication::translate("TFormStrandsight", "Load an image sequence."));
    btLoadImage->setText(QCoreApplication::translate("TFormStrandsight", "Images"));
    AllTracks->setTitle(QCoreApplication::translate("TFormStrandsight", "View"));
    btShowAll->setText(QCoreApplication::translate("TFormStrandsight", "Show"));
    btHideAll->setText(QCoreApplication::translate("TFormStrandsight", "Hide"));
    groupBox->setTitle(QCoreApplication::translate("TFormStrandsight", "Settings"));
    pushButton->setText(QCoreApplication::translate("TFormStrandsight", "Directory"));
}
