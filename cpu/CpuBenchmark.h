#pragma once
// A CPU workload: each worker thread calls run once; it repeats a fixed unit of work until
// the test window closes or the user aborts, and returns its scaled amount of work.

#include <atomic>
#include <cstdint>

class CpuBenchmark {
public:
    // Reads `running` and then `abortFlag` before every unit and returns as soon as the
    // window has closed or the run was aborted. Writes neither flag, never blocks.
    virtual std::uint64_t run(std::atomic<bool>& running, std::atomic<bool>& abortFlag) = 0;

protected:
    // Kernels are owned as their concrete type (make_shared keeps the right deleter), so the
    // interface needs no virtual destructor; a protected one forbids deleting through it.
    CpuBenchmark() = default;
    CpuBenchmark(const CpuBenchmark&) = default;
    CpuBenchmark& operator=(const CpuBenchmark&) = default;
    ~CpuBenchmark() = default;
};
