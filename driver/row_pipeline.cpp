#include "driver/row_pipeline.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

namespace {

std::atomic<PipelineThreads> forcedThreads{PipelineThreads::Automatic};

// Below this much row data a second thread costs more than it saves.
constexpr uint64_t kWorkerFromBytes = uint64_t(1) << 20;

constexpr size_t kSlotAlignment = 16;

// Handing rows over one by one would cost about as much as the rows: each
// look at the other stage's count moves a cache line between the cores.
// So a stage that finds the ring full (or empty) waits until half of it is
// free (or ready), then runs kWakeBatch rows without looking again. While
// waiting it first spins, for about as long as a few rows take; if the
// other stage is not there by then, it has lost its core to another
// program, and the waiting one sleeps.
constexpr int kWakeBatch = RowPipeline::kSlotCount / 2;
constexpr int kSpins = 1000;

void CpuPause()
{
#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
    __asm__ __volatile__("pause");
#endif
}

// A row count that one stage raises and the other waits on, with the count
// at which a sleeping waiter wants to be woken; a cache line of its own, so
// that raising one count does not disturb the stage that raises the other.
struct alignas(64) RowCount {
    std::atomic<int> rows{0};
    std::atomic<int> wakeAt{INT_MAX}; // INT_MAX: nobody sleeps on it
};

// How far each stage has got, and the means to wait for the other one.
// Every atomic is sequentially consistent: Raise and Wait rely on it.
class Progress {
public:
    RowCount produced; // rows 0..produced-1 are in the ring
    RowCount consumed; // rows 0..consumed-1 are done with
    // The producer has ended or the consumer has stopped.
    alignas(64) std::atomic<bool> over{false};

    // Returns once `count` has reached `target` (which the other stage must
    // be able to reach) or `over` is set. The caller reads the count again:
    // over may come with a last raise.
    void Wait(RowCount& count, int target)
    {
        for (int spin = 0; spin < kSpins; ++spin) {
            if (count.rows.load() >= target || over.load())
                return;
            CpuPause();
        }
        std::unique_lock<std::mutex> lock(mutex);
        // Stored before the test in wait: either the test sees the count
        // Raise stored, or Raise sees this target and takes the mutex, which
        // is free only once this thread is inside wait.
        count.wakeAt.store(target);
        changed.wait(lock, [&] { return count.rows.load() >= target || over.load(); });
        count.wakeAt.store(INT_MAX);
    }

    void Raise(RowCount& count, int rows)
    {
        count.rows.store(rows);
        if (rows >= count.wakeAt.load())
            WakeAll();
    }

    void End()
    {
        over.store(true);
        WakeAll();
    }

private:
    void WakeAll()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
        }
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
};

} // namespace

void ForcePipelineThreads(PipelineThreads threads)
{
    forcedThreads.store(threads);
}

RowPipeline::RowPipeline(size_t slotBytes, size_t rowBytes)
    : stride((slotBytes + kSlotAlignment - 1) / kSlotAlignment * kSlotAlignment),
      weight(rowBytes != 0 ? rowBytes : slotBytes)
{
    storage.reset(new (std::nothrow) uint8_t[stride * kSlotCount + kSlotAlignment]);
    if (storage != nullptr) {
        const uintptr_t start = reinterpret_cast<uintptr_t>(storage.get());
        first = storage.get() + (kSlotAlignment - start % kSlotAlignment) % kSlotAlignment;
    }
}

int RowPipeline::RunOnOneThread(int rowCount, const Stage& produce, const Stage& consume)
{
    for (int y = 0; y < rowCount; ++y) {
        if (!produce(y, Slot(y)) || !consume(y, Slot(y)))
            return y;
    }
    return rowCount;
}

int RowPipeline::Run(int rowCount, Worker worker, const Stage& produce, const Stage& consume)
{
    if (rowCount <= 0)
        return 0;
    const PipelineThreads threads = forcedThreads.load();
    const bool worthAWorker =
        uint64_t(rowCount) * weight >= kWorkerFromBytes && std::thread::hardware_concurrency() != 1;
    if (threads == PipelineThreads::One || (threads == PipelineThreads::Automatic && !worthAWorker))
        return RunOnOneThread(rowCount, produce, consume);

    Progress progress;
    const auto producer = [&] {
        int consumed = 0; // as last seen
        for (int y = 0; y < rowCount; ++y) {
            // Row y takes the slot of row y - kSlotCount, free once that is consumed.
            if (consumed <= y - kSlotCount) {
                progress.Wait(progress.consumed, y - kSlotCount + kWakeBatch);
                consumed = progress.consumed.rows.load();
            }
            if (progress.over.load() || !produce(y, Slot(y)))
                break;
            progress.Raise(progress.produced, y + 1);
        }
        progress.End();
    };
    const auto consumer = [&] {
        int produced = 0; // as last seen
        for (int y = 0; y < rowCount; ++y) {
            if (produced <= y) {
                progress.Wait(progress.produced, std::min(y + kWakeBatch, rowCount));
                produced = progress.produced.rows.load();
                if (produced <= y) // the producer has ended
                    break;
            }
            if (!consume(y, Slot(y)))
                break;
            progress.Raise(progress.consumed, y + 1);
        }
        progress.End();
    };

    // An exception from a stage stops both; the worker's is thrown again
    // here, once it has ended.
    std::exception_ptr workerFailure;
    const auto work = [&] {
        try {
            if (worker == Worker::Produces)
                producer();
            else
                consumer();
        } catch (...) {
            workerFailure = std::current_exception();
            progress.End();
        }
    };
    std::thread thread;
    try {
        thread = std::thread(work);
    } catch (const std::exception&) { // std::system_error, or std::bad_alloc for its state
        return RunOnOneThread(rowCount, produce, consume);
    }
    try {
        if (worker == Worker::Produces)
            consumer();
        else
            producer();
    } catch (...) {
        progress.End();
        thread.join();
        throw;
    }
    thread.join();
    if (workerFailure)
        std::rethrow_exception(workerFailure);
    return progress.consumed.rows.load();
}
