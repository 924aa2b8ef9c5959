#include "view/tformtrackviewform.h"

#include <QMainWindow>

void TFormTrackViewForm::setupUi(QMainWindow *window)
{
    Q_UNUSED(window);
}

void TFormTrackViewForm::retranslateUi(QMainWindow *window)
{
    Q_UNUSED(window);
}
