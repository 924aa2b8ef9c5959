#pragma once

class QGraphicsView;
class QGridLayout;
class QMainWindow;
class QSlider;
class QSpacerItem;
class QToolButton;
class QWidget;

// The view window's widgets, built once by setupUi; the widgets belong to their
// Qt parents, these pointers only find them.
class TFormTrackViewForm
{
public:
    void setupUi(QMainWindow *window);
    void retranslateUi(QMainWindow *window);

    QWidget *centralwidget = nullptr;
    QGridLayout *gridLayout = nullptr;
    QGraphicsView *graphicsView = nullptr;
    QToolButton *btMask = nullptr;
    QToolButton *btRemove = nullptr;
    QSpacerItem *horizontalSpacer = nullptr;
    QSlider *hsImage = nullptr;
    QToolButton *btCancel = nullptr;
    QToolButton *btNew = nullptr;
    QToolButton *btAdd = nullptr;
};
