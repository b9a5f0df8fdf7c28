#include "driver/row_pipeline.h"

#include "driver/pipeline_platform.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

namespace {

std::atomic<PipelineThreads> forcedThreads{PipelineThreads::Automatic};

// Below this much row data a second thread costs more than it saves.
constexpr uint64_t kWorkerFromBytes = uint64_t(1) << 20;

// Workers running in this process. A host that loads or writes several
// images at once (pictool --jobs) already keeps its cores busy: a worker
// beyond one per spare core would only share a core with a caller.
std::atomic<unsigned> workersRunning{0};

// Claims a worker while one per spare core is not yet taken, for its lifetime.
class WorkerClaim {
public:
    explicit WorkerClaim(bool forced)
    {
        const unsigned cores = UsableProcessors(); // 0: unknown
        const unsigned spare = cores == 0 ? 1 : cores - 1;
        claimed = workersRunning.fetch_add(1) < spare || forced;
        if (!claimed)
            workersRunning.fetch_sub(1);
    }
    ~WorkerClaim()
    {
        if (claimed)
            workersRunning.fetch_sub(1);
    }
    WorkerClaim(const WorkerClaim&) = delete;
    WorkerClaim& operator=(const WorkerClaim&) = delete;

    bool Claimed() const { return claimed; }

private:
    bool claimed = false;
};

constexpr size_t kSlotAlignment = 16;

// Handing rows over one by one would cost about as much as the rows: each
// look at the other stage's count moves a cache line between the cores. So
// the worker, finding nothing to do, waits until half the ring is ready for
// it, and the calling thread looks at the other count only when the rows it
// last saw are used up.
//
// A thread that would wait spins for up to kLongestSpin, yielding now and
// then (should the other thread share its core, that lets it run), before
// it sleeps. Waking a sleeper took 0.2-0.3 ms on the 2-core machine (its
// core had gone idle), longer than most waits last: a page fault of the
// host's storage, the rows of half a ring, a row of a noisy frame. Past
// kLongestSpin the other thread has stopped for longer than any row takes:
// it has lost its core, and the caller runs a row of the worker's stage
// itself, if it can; otherwise the core is better left to whatever else is
// running. (Taking the worker's rows any sooner only took turns with it:
// the caller would take a row whenever the worker was in the middle of
// one, and keep the worker from the next.)
constexpr int kSpins = 100;
constexpr std::chrono::microseconds kLongestSpin{1000};

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

// Which rows of a slot are being or have been prepared (see Run).
struct alignas(64) SlotPreparation {
    std::atomic<int> taken{-1};
    std::atomic<int> done{-1};
};

// How far each stage has got, and the means to wait for the other one.
// Every atomic is sequentially consistent: Raise and Wait rely on it.
class Progress {
public:
    RowCount produced;                                  // rows 0..produced-1 are in the ring
    RowCount consumed;                                  // rows 0..consumed-1 are done with
    alignas(64) std::atomic<bool> producerEnded{false}; // no row comes after `produced`
    std::atomic<bool> consumerStopped{false};           // nor is any consumed after `consumed`

    bool Ended() const { return producerEnded.load() || consumerStopped.load(); }

    // True once `count` has reached `target` or either stage has ended,
    // false when neither happened within kLongestSpin: spins, yielding now
    // and then, and never sleeps.
    bool Spin(const RowCount& count, int target) const
    {
        const auto spinEnd = std::chrono::steady_clock::now() + kLongestSpin;
        do {
            for (int spin = 0; spin < kSpins; ++spin) {
                if (count.rows.load() >= target || Ended())
                    return true;
                CpuPause();
            }
            std::this_thread::yield();
        } while (std::chrono::steady_clock::now() < spinEnd);
        return false;
    }

    // Returns once `count` has reached `target` or either stage has ended.
    void Wait(RowCount& count, int target)
    {
        if (!Spin(count, target))
            Sleep(count, target);
    }

    // As Wait, without spinning first: for a thread that has just spun.
    void Sleep(RowCount& count, int target)
    {
        std::unique_lock<std::mutex> lock(mutex);
        // Stored before the test in wait: either the test sees the count
        // Raise stored, or Raise sees this target and takes the mutex, which
        // is free only once this thread is inside wait.
        count.wakeAt.store(target);
        changed.wait(lock, [&] { return count.rows.load() >= target || Ended(); });
        count.wakeAt.store(INT_MAX);
    }

    void Raise(RowCount& count, int rows)
    {
        count.rows.store(rows);
        if (rows >= count.wakeAt.load())
            WakeAll();
    }

    void End(std::atomic<bool>& flag)
    {
        flag.store(true);
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

RowPipeline::RowPipeline(size_t slotBytes)
    : stride((slotBytes + kSlotAlignment - 1) / kSlotAlignment * kSlotAlignment),
      slotCount(int(std::clamp(kRingBytes / std::max(stride, kSlotAlignment), size_t(kMinSlots),
                               size_t(kMaxSlots))))
{
    // No ring whose size would wrap: Allocated() then answers false.
    if (slotBytes > (SIZE_MAX - kSlotAlignment) / size_t(slotCount) - kSlotAlignment)
        return;
    ring.reset(new (std::nothrow) RingMemory(stride * size_t(slotCount)));
    if (ring != nullptr)
        first = ring->Data();
}

int RowPipeline::RunOnOneThread(int rowCount, const Stage& produce, const Stage& consume,
                                const Preparation& prepare)
{
    for (int y = 0; y < rowCount; ++y) {
        if (!produce(y, Slot(y)))
            return y;
        if (prepare)
            prepare(y, Slot(y));
        if (!consume(y, Slot(y)))
            return y;
    }
    return rowCount;
}

int RowPipeline::Run(int rowCount, Worker worker, const Stage& produce, const Stage& consumeStage,
                     const Preparation& prepare)
{
    if (rowCount <= 0)
        return 0;
    const PipelineThreads threads = forcedThreads.load();
    if (threads == PipelineThreads::One ||
        (threads == PipelineThreads::Automatic && uint64_t(rowCount) * stride < kWorkerFromBytes))
        return RunOnOneThread(rowCount, produce, consumeStage, prepare);
    const WorkerClaim claim(threads == PipelineThreads::Two);
    if (!claim.Claimed())
        return RunOnOneThread(rowCount, produce, consumeStage, prepare);

    Progress progress;
    // Preparing: each slot records the last row whose preparation a thread
    // took on, and the last it finished. A slot's rows come in order, so a
    // row is taken on once, by whoever raises `taken` to it first; a row
    // consumed has been taken, so the caller never prepares it again.
    std::unique_ptr<SlotPreparation[]> preparations(new SlotPreparation[size_t(slotCount)]);
    const auto takeOn = [&](int y) {
        std::atomic<int>& taken = preparations[size_t(y % slotCount)].taken;
        int last = taken.load();
        return last < y && taken.compare_exchange_strong(last, y);
    };
    const auto prepareRow = [&](int y) {
        prepare(y, Slot(y));
        preparations[size_t(y % slotCount)].done.store(y);
    };
    // Consumes row y, preparing it first or waiting for the caller to
    // finish preparing it (false, without consuming, when the pipeline
    // stops meanwhile).
    const auto consume = [&](int y, uint8_t* slot) {
        if (prepare) {
            if (takeOn(y)) {
                prepareRow(y);
            } else {
                // The caller is in the middle of it: one row's work at most.
                for (int spin = 1; preparations[size_t(y % slotCount)].done.load() < y; ++spin) {
                    if (progress.consumerStopped.load())
                        return false;
                    if (spin % kSpins == 0)
                        std::this_thread::yield();
                    else
                        CpuPause();
                }
            }
        }
        return consumeStage(y, slot);
    };
    // The caller, its ring full: prepares the newest row produced that no
    // thread has taken on, the one the worker will reach last. False when
    // there is none.
    const auto prepareAhead = [&] {
        const int oldest = progress.consumed.rows.load() + 1; // the worker may be on the one before
        for (int y = progress.produced.rows.load() - 1; y >= oldest; --y) {
            if (takeOn(y)) {
                prepareRow(y);
                return true;
            }
        }
        return false;
    };
    // One row of either stage, when its turn has come. The stage the worker
    // takes is also run by the calling thread whenever that has nothing else
    // to do (a worker that has lost its core never holds up the caller for
    // long); `shared` makes sure only one thread runs it at a time.
    const auto produceOne = [&] {
        // Row y's slot is free once row y - slotCount is consumed.
        const int y = progress.produced.rows.load();
        if (y >= rowCount || progress.Ended() || progress.consumed.rows.load() <= y - slotCount)
            return false;
        if (!produce(y, Slot(y)))
            progress.End(progress.producerEnded);
        else if (progress.Raise(progress.produced, y + 1), y + 1 == rowCount)
            progress.End(progress.producerEnded);
        return true;
    };
    const auto consumeOne = [&] {
        const int y = progress.consumed.rows.load();
        if (progress.consumerStopped.load() || y >= progress.produced.rows.load())
            return false;
        if (consume(y, Slot(y)))
            progress.Raise(progress.consumed, y + 1);
        else
            progress.End(progress.consumerStopped);
        return true;
    };
    const int wakeBatch = slotCount / 2;
    const bool workerProduces = worker == Worker::Produces;
    std::mutex shared;
    const auto sharedOne = [&](bool wait) {
        std::unique_lock<std::mutex> lock(shared, std::defer_lock);
        if (wait)
            lock.lock();
        else if (!lock.try_lock())
            return false;
        try {
            return workerProduces ? produceOne() : consumeOne();
        } catch (...) {
            // Stopped before the lock goes: else the other thread could take
            // it and run the same row again while this exception unwinds.
            progress.End(progress.consumerStopped);
            throw;
        }
    };
    const auto finished = [&] {
        return progress.consumerStopped.load() ||
               (progress.producerEnded.load() &&
                progress.consumed.rows.load() == progress.produced.rows.load());
    };

    // The worker runs its stage until that stage can have nothing more to do.
    const auto work = [&] {
        while (workerProduces ? !progress.Ended() : !finished()) {
            // Never blocks on the lock: the caller holds it for one row at most.
            if (sharedOne(false))
                continue;
            CpuPause();
            if (workerProduces) // the ring is full
                progress.Wait(progress.consumed,
                              progress.produced.rows.load() - slotCount + wakeBatch);
            else // every row produced so far is consumed
                progress.Wait(progress.produced,
                              std::min(progress.consumed.rows.load() + wakeBatch, rowCount));
        }
    };
    // The calling thread runs the other stage, helps with the worker's when
    // it cannot go on, and returns when every row is done with. It looks at
    // the worker's count only when the rows it last saw there are used up.
    const auto call = [&] {
        int seen = 0; // rows produced (the worker produces) or consumed (it consumes)
        while (!progress.consumerStopped.load()) {
            if (workerProduces) {
                const int y = progress.consumed.rows.load();
                if (y < seen || y < (seen = progress.produced.rows.load())) {
                    if (consume(y, Slot(y)))
                        progress.Raise(progress.consumed, y + 1);
                    else
                        progress.End(progress.consumerStopped);
                    continue;
                }
            } else if (!progress.producerEnded.load()) {
                // Row y's slot is free once row y - slotCount is consumed.
                const int y = progress.produced.rows.load();
                if (y - slotCount < seen ||
                    y - slotCount < (seen = progress.consumed.rows.load())) {
                    if (!produce(y, Slot(y)))
                        progress.End(progress.producerEnded);
                    else if (progress.Raise(progress.produced, y + 1), y + 1 == rowCount)
                        progress.End(progress.producerEnded);
                    continue;
                }
            }
            if (finished())
                break;
            if (!workerProduces && prepare && prepareAhead())
                continue;
            // Give the worker time before taking a row of its stage (see
            // kLongestSpin). Once every row is produced, there is nothing
            // to wait for but the worker's last rows, which this thread may
            // as well help with.
            if (workerProduces ? progress.Spin(progress.produced, progress.consumed.rows.load() + 1)
                               : !progress.producerEnded.load() &&
                                     progress.Spin(progress.consumed,
                                                   progress.produced.rows.load() - slotCount + 1))
                continue;
            if (sharedOne(false))
                continue;
            // The worker is in the middle of a row: wait for the row this
            // thread's own stage needs (having spun for it already), or (all
            // rows produced) for the last.
            if (workerProduces)
                progress.Sleep(progress.produced, progress.consumed.rows.load() + 1);
            else if (!progress.producerEnded.load())
                progress.Sleep(progress.consumed, progress.produced.rows.load() - slotCount + 1);
            else
                sharedOne(true);
        }
    };

    // An exception from a stage stops both; the worker's is thrown again
    // here, once it has ended.
    std::exception_ptr workerFailure;
    std::thread thread;
    const int callerProcessor = CurrentProcessor();
    try {
        thread = std::thread([&] {
            AvoidProcessor(callerProcessor);
            try {
                work();
            } catch (...) {
                workerFailure = std::current_exception();
                progress.End(progress.consumerStopped);
            }
        });
    } catch (const std::exception&) { // std::system_error, or std::bad_alloc for its state
        return RunOnOneThread(rowCount, produce, consumeStage, prepare);
    }
    try {
        call();
    } catch (...) {
        progress.End(progress.consumerStopped);
        thread.join();
        throw;
    }
    thread.join();
    if (workerFailure)
        std::rethrow_exception(workerFailure);
    return progress.consumed.rows.load();
}
