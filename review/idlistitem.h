#pragma once

#include <QListWidgetItem>

// An entry of a track list that keeps the track's id and makes its text (the
// id in decimal) when the list asks for it, instead of keeping a string: a
// list of a million tracks holds a million numbers. It reads, sorts, selects
// and is picked like an entry made from its text.
class IdListItem : public QListWidgetItem
{
public:
    static constexpr int kType = QListWidgetItem::UserType + 1;

    explicit IdListItem(unsigned int id);

    unsigned int Id() const { return id; }

    QVariant data(int role) const override;
    // The list's order, plain character order of the texts ("10" before
    // "9"), without making the texts.
    bool operator<(const QListWidgetItem &other) const override;
    QListWidgetItem *clone() const override;

    // The id a list text stands for, when the text is exactly what an
    // IdListItem shows for it; false otherwise.
    static bool IdOfText(const QString &text, unsigned int &id);

private:
    unsigned int id;
};
