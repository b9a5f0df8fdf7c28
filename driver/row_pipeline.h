// RowPipeline: the rows of one load or write made by one stage and used by a
// second, in row order, through a small ring of row slots, so that two cores
// share the work.
//
//   produce(y, slot) --> ring of kSlotCount slots --> consume(y, slot)
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

class RowPipeline {
public:
    // A few slots let either stage run a little ahead of the other without
    // growing memory beyond a few rows.
    static constexpr int kSlotCount = 8;

    // A stage answers true to go on, false to stop the pipeline. An
    // exception from either stage stops both and comes out of Run once the
    // worker has ended.
    using Stage = std::function<bool(int row, uint8_t* slot)>;
    enum class Worker { Produces, Consumes };

    // kSlotCount slots of `slotBytes` bytes each, 16-byte aligned, or none
    // when they cannot be allocated (see Allocated). `rowBytes` is how much
    // one row weighs where the stages keep their rows elsewhere (0: the slot
    // size): it decides whether a worker thread pays for itself.
    explicit RowPipeline(size_t slotBytes, size_t rowBytes = 0);
    RowPipeline(const RowPipeline&) = delete;
    RowPipeline& operator=(const RowPipeline&) = delete;

    bool Allocated() const { return storage != nullptr; }

    // Rows 0 to rowCount - 1. When produce(y) answers false, rows before y
    // are consumed and none from y on. When consume(y) answers false, no
    // further row is consumed and production stops (rows up to a ring ahead
    // of y may already have been produced). Answers the number of rows
    // consumed successfully.
    int Run(int rowCount, Worker worker, const Stage& produce, const Stage& consume);

private:
    uint8_t* Slot(int row) const { return first + size_t(row % kSlotCount) * stride; }
    int RunOnOneThread(int rowCount, const Stage& produce, const Stage& consume);

    size_t stride;
    size_t weight;
    std::unique_ptr<uint8_t[]> storage;
    uint8_t* first = nullptr;
};

// For tests: how many threads Run uses. Automatic takes a worker for work
// large enough to gain from one, while this process runs fewer workers
// than the machine has cores beyond the first; One behaves as when no
// thread can be made; Two takes a worker whenever one can be made, however
// small the work.
enum class PipelineThreads { Automatic, One, Two };
void ForcePipelineThreads(PipelineThreads threads);
