#include "review/tformstrandsight.h"

#include "review/tformstrandsightform.h"
#include "view/tformtrackview.h"

#include <QDir>

TFormStrandsight::TFormStrandsight(QWidget *parent)
    : QMainWindow(parent)
    , form(new TFormStrandsightForm)
    , workingDirectory(QDir::homePath())
{
    form->setupUi(this);
    viewWindow = std::make_unique<TFormTrackView>(nullptr);
    viewWindow->show();
}

TFormStrandsight::~TFormStrandsight()
{
    delete form;
}

void TFormStrandsight::Directory() {}
void TFormStrandsight::ShowViewForm() {}
