#include "review/tformstrandsightform.h"

#include <QMainWindow>

void TFormStrandsightForm::setupUi(QMainWindow *window)
{
    Q_UNUSED(window);
}

void TFormStrandsightForm::retranslateUi(QMainWindow *window)
{
    Q_UNUSED(window);
}
