#include "dialogs/basefilenamedialog.h"

#include "dialogs/promptwindow.h"
#include "model/trackfile.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace {

const QString kExampleBase = QStringLiteral("picks");

bool Allowed(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')
        || c == u'_';
}

// Keeps the characters of the last text it refused, for the prompt to name.
class NameValidator : public QRegularExpressionValidator
{
public:
    explicit NameValidator(QObject *parent)
        : QRegularExpressionValidator(QRegularExpression(QStringLiteral("^[A-Za-z0-9_]+$")), parent)
    {
    }

    State validate(QString &input, int &pos) const override
    {
        const State state = QRegularExpressionValidator::validate(input, pos);
        if (state == Invalid) {
            refused.clear();
            for (const QChar c : std::as_const(input)) {
                if (!Allowed(c) && !refused.contains(c))
                    refused += c;
            }
        }
        return state;
    }

    mutable QString refused;
};

} // namespace

BaseFilenameDialog::BaseFilenameDialog(QWidget *parent)
    : QDialog(parent)
{
    prompt = new QLabel;
    nameEdit = new QLineEdit;
    validator = new NameValidator(nameEdit);
    nameEdit->setValidator(validator);
    rule = new QLabel(tr("Letters (A-Z, a-z), digits and _ only."));
    rule->setObjectName(QStringLiteral("rule"));
    submitButton = new QPushButton(tr("&Submit"));
    cancelButton = new QPushButton(tr("&Cancel"));

    submitButton->setDefault(true);
    connect(submitButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(nameEdit, &QLineEdit::textChanged, this, &BaseFilenameDialog::ShowPrompt);
    connect(nameEdit, &QLineEdit::inputRejected, this, &BaseFilenameDialog::ShowRefused);

    auto *textColumn = new QVBoxLayout;
    textColumn->addWidget(prompt);
    textColumn->addWidget(nameEdit);
    textColumn->addWidget(rule);
    auto *buttonColumn = new QVBoxLayout;
    buttonColumn->addWidget(submitButton);
    buttonColumn->addWidget(cancelButton);
    buttonColumn->addStretch();
    auto *mainLayout = new QHBoxLayout;
    mainLayout->addLayout(textColumn);
    mainLayout->addLayout(buttonColumn);
    setLayout(mainLayout);

    ShowPrompt();
    FinishPromptWindow(this, tr("Choose a Base Filename"));
}

void BaseFilenameDialog::Describe(const QString &what, int count)
{
    this->what = what;
    this->count = count;
    ShowPrompt();
}

// The names the set gets, from the name typed so far (an example before).
void BaseFilenameDialog::ShowPrompt()
{
    const QString base = nameEdit->text().isEmpty() ? kExampleBase : nameEdit->text();
    const QStringList names = SaveFileNames(base, std::max(count, 2));
    QString example = names.mid(0, 2).join(QStringLiteral(", "));
    if (count <= 0)
        example += QStringLiteral(", ...");
    else if (count > 3)
        example += QStringLiteral(", ... ") + names.last();
    else if (count == 3)
        example += QStringLiteral(", ") + names.last();
    else if (count == 1)
        example = names.first();
    const QString heading = what.isEmpty() ? tr("Provide a base filename for the save files.")
                                           : tr("Provide a base filename for the %1.").arg(what);
    prompt->setText(heading + QLatin1Char('\n') + tr("\"%1\" gives %2").arg(base, example));
    // Fixed at the size its texts need, which grows with the name typed.
    if (isWindow() && minimumSize() == maximumSize())
        setFixedSize(sizeHint());
}

void BaseFilenameDialog::ShowRefused()
{
    QStringList shown;
    for (const QChar c : std::as_const(static_cast<NameValidator *>(validator)->refused))
        shown << (c == u' ' ? tr("a space") : QStringLiteral("\"%1\"").arg(c));
    if (shown.isEmpty())
        return;
    rule->setText(tr("%1 cannot be used: letters (A-Z, a-z), digits and _ only.")
                      .arg(shown.join(QStringLiteral(", "))));
    setFixedSize(sizeHint());
}
