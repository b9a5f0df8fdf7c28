#include <gtest/gtest.h>

#include <atomic>
#if defined(__linux__)
#include <sched.h>
#endif
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "driver/pipeline_platform.h"
#include "driver/row_pipeline.h"

namespace {

struct StopCase {
    const char* name;
    int rowCount;
    int produceFailsAt; // -1: never
    int consumeFailsAt; // -1: never
};

// Runs every case with one thread and with a worker on either side. Each
// produced slot carries its row number and a pattern, so that a consumer
// that saw another row's slot, or a slot overwritten too early, fails.
class RowPipelineTest : public ::testing::TestWithParam<PipelineThreads> {
protected:
    void SetUp() override { ForcePipelineThreads(GetParam()); }
    void TearDown() override { ForcePipelineThreads(PipelineThreads::Automatic); }
};

// clang-format off
const StopCase kStopCases[] = {
    {"no rows",                      0,   -1, -1},
    {"one row",                      1,   -1, -1},
    {"fewer rows than slots",        RowPipeline::kMaxSlots - 1, -1, -1},
    {"as many rows as slots",        RowPipeline::kMaxSlots,     -1, -1},
    {"many rows",                    1000, -1, -1},
    {"produce fails at the first",   1000, 0,  -1},
    {"produce fails midway",         1000, 517, -1},
    {"produce fails at the last",    1000, 999, -1},
    {"consume fails at the first",   1000, -1, 0},
    {"consume fails midway",         1000, -1, 517},
    {"consume fails at the last",    1000, -1, 999},
};
// clang-format on

// Every case runs with and without a preparation, which marks its slot;
// each row consumed must have been prepared exactly once, before.
TEST_P(RowPipelineTest, EachStageSeesItsRowsInOrderAndStopsWhereAsked)
{
    constexpr size_t kSlotBytes = 100;
    RowPipeline pipeline(kSlotBytes);
    ASSERT_TRUE(pipeline.Allocated());
    ASSERT_EQ(pipeline.SlotCount(), RowPipeline::kMaxSlots); // small rows: the most slots
    for (const bool preparing : {false, true}) {
        for (const RowPipeline::Worker worker :
             {RowPipeline::Worker::Produces, RowPipeline::Worker::Consumes}) {
            for (const StopCase& stop : kStopCases) {
                SCOPED_TRACE(std::string(stop.name) +
                             (worker == RowPipeline::Worker::Produces ? ", worker produces"
                                                                      : ", worker consumes") +
                             (preparing ? ", prepared" : ""));
                std::vector<int> produced;
                std::vector<int> consumed;
                std::vector<std::atomic<int>> preparations(size_t(stop.rowCount));
                int mismatches = 0;
                const auto prepare = [&](int y, uint8_t* slot) {
                    ++preparations[size_t(y)];
                    slot[kSlotBytes - 2] = uint8_t(~(y % 251));
                };
                const int answered = pipeline.Run(
                    stop.rowCount, worker,
                    [&](int y, uint8_t* slot) {
                        produced.push_back(y);
                        std::memset(slot, y % 251, kSlotBytes);
                        std::memcpy(slot, &y, sizeof y);
                        return y != stop.produceFailsAt;
                    },
                    [&](int y, uint8_t* slot) {
                        consumed.push_back(y);
                        int carried;
                        std::memcpy(&carried, slot, sizeof carried);
                        mismatches += carried != y || slot[kSlotBytes - 1] != y % 251;
                        if (preparing)
                            mismatches += preparations[size_t(y)].load() != 1 ||
                                          slot[kSlotBytes - 2] != uint8_t(~(y % 251));
                        return y != stop.consumeFailsAt;
                    },
                    preparing ? RowPipeline::Preparation(prepare) : nullptr);
                EXPECT_EQ(mismatches, 0);
                for (const std::atomic<int>& count : preparations)
                    ASSERT_LE(count.load(), preparing ? 1 : 0);
                // Rows are consumed in order, up to the first failure of either stage.
                int end = stop.rowCount;
                if (stop.produceFailsAt >= 0)
                    end = stop.produceFailsAt;
                if (stop.consumeFailsAt >= 0)
                    end = stop.consumeFailsAt + 1;
                ASSERT_EQ(int(consumed.size()), end);
                for (int y = 0; y < end; ++y)
                    ASSERT_EQ(consumed[size_t(y)], y);
                EXPECT_EQ(answered, stop.consumeFailsAt >= 0 ? stop.consumeFailsAt : end);
                // Production is in order and runs at most a ring ahead of a consumer that stopped.
                for (size_t i = 0; i < produced.size(); ++i)
                    ASSERT_EQ(produced[i], int(i));
                if (stop.produceFailsAt >= 0)
                    EXPECT_EQ(int(produced.size()), stop.produceFailsAt + 1);
                else if (stop.consumeFailsAt >= 0)
                    EXPECT_LE(int(produced.size()), stop.consumeFailsAt + 1 + pipeline.SlotCount());
                else
                    EXPECT_EQ(int(produced.size()), stop.rowCount);
            }
        }
    }
}

// The stage that calls the host stays on the calling thread; the other one
// runs on the worker, and on the calling thread when that has nothing else
// to do.
TEST_P(RowPipelineTest, TheCallingThreadKeepsTheStageTheWorkerDoesNotTake)
{
    RowPipeline pipeline(8);
    const std::thread::id caller = std::this_thread::get_id();
    for (const RowPipeline::Worker worker :
         {RowPipeline::Worker::Produces, RowPipeline::Worker::Consumes}) {
        std::vector<std::thread::id> producers;
        std::vector<std::thread::id> consumers;
        pipeline.Run(
            500, worker,
            [&](int, uint8_t*) {
                producers.push_back(std::this_thread::get_id());
                return true;
            },
            [&](int, uint8_t*) {
                consumers.push_back(std::this_thread::get_id());
                return true;
            });
        const std::vector<std::thread::id>& onCaller =
            worker == RowPipeline::Worker::Produces ? consumers : producers;
        ASSERT_EQ(onCaller.size(), 500u);
        for (const std::thread::id& id : onCaller)
            ASSERT_EQ(id, caller);
    }
}

// A worker behind a full ring leaves the caller rows to prepare; it
// prepares none that the worker has begun, nor any twice.
TEST(RowPipeline, TheCallerPreparesAheadOfASlowWorker)
{
    ForcePipelineThreads(PipelineThreads::Two);
    RowPipeline pipeline(8);
    const std::thread::id caller = std::this_thread::get_id();
    constexpr int kRows = 400;
    std::vector<std::atomic<int>> preparations(kRows);
    std::atomic<int> consuming{-1}; // the row being consumed
    std::atomic<int> onCaller{0};
    std::atomic<int> misplaced{0}; // prepared while or after being consumed
    int unprepared = 0;
    pipeline.Run(
        kRows, RowPipeline::Worker::Consumes, [](int, uint8_t*) { return true; },
        [&](int y, uint8_t*) {
            consuming = y;
            unprepared += preparations[size_t(y)].load() != 1;
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
            while (std::chrono::steady_clock::now() < until) {
            }
            return true;
        },
        [&](int y, uint8_t*) {
            misplaced += y <= consuming.load();
            ++preparations[size_t(y)];
            onCaller += std::this_thread::get_id() == caller;
        });
    ForcePipelineThreads(PipelineThreads::Automatic);
    EXPECT_EQ(unprepared, 0);
    EXPECT_EQ(misplaced.load(), 0);
    for (const std::atomic<int>& count : preparations)
        ASSERT_EQ(count.load(), 1);
    EXPECT_GT(onCaller.load(), 0);
}

// Whichever stage throws, on whichever thread, no row is produced,
// prepared or consumed twice, and nothing runs once Run has returned. The
// row that throws comes after the last is produced, when the calling
// thread may be helping the worker; each case runs 20 times, as the
// threads meet differently each time.
TEST_P(RowPipelineTest, AThrowingStageStopsBothAndItsExceptionComesOut)
{
    RowPipeline pipeline(8);
    constexpr int kRows = 200;
    constexpr int kThrowingRow = 180;
    for (const RowPipeline::Worker worker :
         {RowPipeline::Worker::Produces, RowPipeline::Worker::Consumes}) {
        for (const char* thrower : {"produce", "prepare", "consume"}) {
            for (int attempt = 0; attempt < 20; ++attempt) {
                SCOPED_TRACE(std::string(thrower) + " throws");
                std::vector<std::atomic<int>> calls(3 * kRows);
                std::atomic<int> total{0};
                const auto stage = [&](int which, const char* name) {
                    return [&, which, name](int y, uint8_t*) {
                        ++calls[size_t(which * kRows + y)];
                        ++total;
                        if (y == kThrowingRow && std::strcmp(name, thrower) == 0)
                            throw std::runtime_error("row 180");
                        return true;
                    };
                };
                const auto prepare = stage(1, "prepare");
                EXPECT_THROW(pipeline.Run(kRows, worker, stage(0, "produce"), stage(2, "consume"),
                                          [&](int y, uint8_t* slot) { prepare(y, slot); }),
                             std::runtime_error);
                const int callsAtReturn = total.load();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                EXPECT_EQ(total.load(), callsAtReturn);
                for (size_t i = 0; i < calls.size(); ++i)
                    ASSERT_LE(calls[i].load(), 1) << "stage " << i / kRows << ", row " << i % kRows;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Threads, RowPipelineTest,
                         ::testing::Values(PipelineThreads::One, PipelineThreads::Two),
                         [](const ::testing::TestParamInfo<PipelineThreads>& threads) {
                             return threads.param == PipelineThreads::One ? "OneThread"
                                                                          : "TwoThreads";
                         });

// The ring holds about 2 MiB of rows, from 8 to 64 of them.
TEST(RowPipeline, SlotsAreAlignedAndEmptyRowsWork)
{
    const struct {
        size_t bytes;
        int slots;
    } kRings[] = {{0, 64}, {1, 64}, {17, 64}, {30720, 64}, {65536, 32}, {65535 * 8, 8}};
    for (const auto& ring : kRings) {
        const size_t bytes = ring.bytes;
        RowPipeline pipeline(bytes);
        ASSERT_TRUE(pipeline.Allocated());
        EXPECT_EQ(pipeline.SlotCount(), ring.slots) << bytes;
        std::vector<uintptr_t> slots;
        pipeline.Run(
            pipeline.SlotCount(), RowPipeline::Worker::Produces,
            [&](int, uint8_t* slot) {
                std::memset(slot, 1, bytes);
                return true;
            },
            [&](int, uint8_t* slot) {
                slots.push_back(reinterpret_cast<uintptr_t>(slot));
                return true;
            });
        ASSERT_EQ(slots.size(), size_t(pipeline.SlotCount()));
        for (const uintptr_t slot : slots)
            EXPECT_EQ(slot % 16, 0u) << bytes;
    }
}

} // namespace

// The worker keeps off the caller's processor where another one is allowed.
TEST(PipelinePlatform, AThreadKeepsOffTheProcessorItAvoids)
{
    std::thread([] {
        const int processor = CurrentProcessor();
        if (processor < 0 || UsableProcessors() < 2)
            GTEST_SKIP() << "one processor, or none the platform tells";
        AvoidProcessor(processor);
        for (int i = 0; i < 1000; ++i)
            ASSERT_NE(CurrentProcessor(), processor);
    }).join();
}

#if defined(__linux__)
// A process allowed one processor only takes no worker: it would share that
// processor with the caller and only take turns with it.
TEST(PipelinePlatform, OneUsableProcessorMeansOneThread)
{
    std::thread([] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(size_t(sched_getcpu()), &one);
        ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
        EXPECT_EQ(UsableProcessors(), 1u);
        RowPipeline pipeline(1 << 20); // 64 MiB of rows: a worker where one pays
        const std::thread::id caller = std::this_thread::get_id();
        int elsewhere = 0;
        const auto stage = [&](int, uint8_t*) {
            elsewhere += std::this_thread::get_id() != caller;
            return true;
        };
        pipeline.Run(64, RowPipeline::Worker::Produces, stage, stage);
        EXPECT_EQ(elsewhere, 0);
    }).join();
}
#endif

// Ring memory of any size is aligned and all of it may be written (the
// sanitizers see a write past it), huge-page backed or not.
TEST(PipelinePlatform, RingMemoryIsAlignedAndWholly)
{
    for (const size_t bytes : {size_t(0), size_t(1), size_t(1) << 20, (size_t(3) << 20) + 5}) {
        const RingMemory ring(bytes);
        ASSERT_NE(ring.Data(), nullptr) << bytes;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(ring.Data()) % 16, 0u) << bytes;
        std::memset(ring.Data(), 0xA5, bytes);
    }
}
