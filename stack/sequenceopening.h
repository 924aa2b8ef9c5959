#pragma once

#include "stack/imagesequence.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class TaskControl;

// A sequence ready to be shown: its slices, contrast and memory plan, and its
// first slice already decoded.
struct OpenedSequence
{
    std::vector<ImageSequence::SliceInfo> slices;
    std::shared_ptr<const ImageSequence::DisplayTable> table;
    ImageSequence::MemoryPlan plan;
    QStringList notes; // what the user should know about the files (see Headers)
    ImageSequence::Decoded first; // slice 0, with its raw values
};

// Opening an image sequence as long work, in steps that run one after the
// other on a helper thread (a task of the review window): the headers, then
// the memory check, the contrast and the first slice. Nothing the program
// shows changes until the finished sequence is taken; a cancel in between
// leaves no trace but a raised decoding limit.
class SequenceOpening
{
public:
    // The slices follow files in the order given, and each file's pages in
    // page order.
    explicit SequenceOpening(QStringList files);

    // Memory that opening the sequence gives back (what the sequence shown
    // holds); set on the GUI thread before the steps run.
    void SetReleasableBytes(qint64 bytes) { releasable = bytes; }

    void ReadHeaders(TaskControl &control);
    void Prepare(TaskControl &control);

    // Prepare found too little memory: the sequence is not to be opened, and
    // Refusal says why.
    bool Refused() const { return !refusal.isEmpty(); }
    QString Refusal() const { return refusal; }
    // Nothing to show: no file held an image page.
    bool Empty() const { return sequence.slices.empty(); }

    OpenedSequence Take() { return std::move(sequence); }

private:
    QStringList files;
    qint64 releasable = 0;
    QString refusal;
    OpenedSequence sequence;
};
