// RowPipeline: the rows of one load or write made by one stage and used by a
// second, in row order, through a small ring of row slots, so that two cores
// share the work.
//
//   produce(y, slot) --> ring of SlotCount() slots --> [prepare(y, slot)] consume(y, slot)
//
// One stage runs on a worker thread, the other on the calling thread; the
// caller chooses which, and keeps every call into the host on its own side.
// Each stage sees rows 0, 1, 2, ... in order, and owns row y's slot from
// the start of produce(y, slot) until consume(y, slot) returns. Run returns
// only after the worker thread has ended: nothing of it outlives the call.
//
// Where no second thread can be made (or only one core is worth using),
// both stages take turns on the calling thread, produce(y) then consume(y),
// exactly as a one-thread row loop would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "driver/pipeline_platform.h"

class RowPipeline {
public:
    // The ring holds about kRingBytes of rows, and from kMinSlots to
    // kMaxSlots of them. A stage that stops for a while (the host's storage
    // takes a page fault for each fresh 2 MiB of a new frame, 0.1 ms and
    // more) leaves the other stage that many rows to go on with.
    static constexpr size_t kRingBytes = size_t(2) << 20;
    static constexpr int kMinSlots = 8;
    static constexpr int kMaxSlots = 64;

    // A stage answers true to go on, false to stop the pipeline. An
    // exception from either stage stops both and comes out of Run once the
    // worker has ended.
    using Stage = std::function<bool(int row, uint8_t* slot)>;
    enum class Worker { Produces, Consumes };
    // The part of consuming a row that needs no other row, such as encoding
    // it, which may run ahead of the row's turn: see Run.
    using Preparation = std::function<void(int row, uint8_t* slot)>;

    // Slots of `slotBytes` bytes each, 16-byte aligned, or none when they
    // cannot be allocated (see Allocated).
    explicit RowPipeline(size_t slotBytes);
    RowPipeline(const RowPipeline&) = delete;
    RowPipeline& operator=(const RowPipeline&) = delete;

    bool Allocated() const { return first != nullptr; }
    int SlotCount() const { return slotCount; }

    // Rows 0 to rowCount - 1. When produce(y) answers false, rows before y
    // are consumed and none from y on. When consume(y) answers false, no
    // further row is consumed and production stops (rows up to a ring ahead
    // of y may already have been produced). Answers the number of rows
    // consumed successfully.
    //
    // With `prepare`, every row consumed is prepared first, once: by the
    // consuming thread just before consume(y), or, ahead of that, by the
    // calling thread when it produces and the ring is full (the worker is
    // behind) or every row is produced. Rows are prepared in any order, one row by one thread at a
    // time, never while the row is consumed; a row that is never consumed
    // may be prepared or not.
    int Run(int rowCount, Worker worker, const Stage& produce, const Stage& consume,
            const Preparation& prepare = nullptr);

private:
    uint8_t* Slot(int row) const { return first + size_t(row % slotCount) * stride; }
    int RunOnOneThread(int rowCount, const Stage& produce, const Stage& consume,
                       const Preparation& prepare);

    size_t stride;
    int slotCount;
    std::unique_ptr<RingMemory> ring;
    uint8_t* first = nullptr;
};

// For tests: how many threads Run uses. Automatic takes a worker for work
// large enough to gain from one, while this process runs fewer workers
// than the machine has cores beyond the first; One behaves as when no
// thread can be made; Two takes a worker whenever one can be made, however
// small the work.
enum class PipelineThreads { Automatic, One, Two };
void ForcePipelineThreads(PipelineThreads threads);
