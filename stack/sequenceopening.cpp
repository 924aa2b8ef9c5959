#include "stack/sequenceopening.h"

#include "stack/helperpool.h"
#include "tasks/taskcontrol.h"

#include <QCoreApplication>
#include <QLocale>

namespace {

QString Tr(const char *text) { return QCoreApplication::translate("ImageSequence", text); }

} // namespace

SequenceOpening::SequenceOpening(QStringList files)
    : files(std::move(files))
{
}

void SequenceOpening::ReadHeaders(TaskControl &control)
{
    ImageSequence::Headers headers = ImageSequence::ReadHeaders(files, &control);
    sequence.slices = std::move(headers.slices);
    sequence.notes = std::move(headers.notes);
}

void SequenceOpening::Prepare(TaskControl &control)
{
    using namespace ImageSequence;
    const qint64 available = AvailableBytes() + releasable;
    sequence.plan = PlanMemory(sequence.slices, available);
    if (sequence.plan.helpers == 0) {
        const QLocale locale;
        refusal = Tr("Opening these images needs %1 of memory (one image alone takes %2), but "
                     "only %3 is available. The images were not loaded.")
                      .arg(locale.formattedDataSize(sequence.plan.needed),
                           locale.formattedDataSize(sequence.plan.oneImage),
                           locale.formattedDataSize(available));
        return;
    }
    RaiseDecodingLimit(sequence.slices, available);
    sequence.table = SampleDisplayTable(sequence.slices, ContrastSample(sequence.slices), &control);
    if (!sequence.table || sequence.slices.empty())
        return;

    // The first slice is decoded here, so that it is on the screen as soon as
    // the sequence is taken.
    control.SetStage(Tr("Opening the first image"));
    auto first = std::make_shared<Decoded>();
    const SliceInfo slice = sequence.slices.front();
    const std::shared_ptr<const DisplayTable> table = sequence.table;
    if (!ParallelFor(
            Helpers(), 1,
            [first, slice, table](int, const std::atomic<bool> &) {
                QImage raw;
                *first = DecodeDisplay(slice, raw, *table);
                if (first->wide)
                    first->raw = std::move(raw);
            },
            &control))
        return;
    sequence.first = std::move(*first);
}
