#pragma once
// The processor load of one row over one sample interval, as the CPU column shows it.

#include <cstdint>
#include <optional>

// `busy` is the processor time (kernel + user) the process used between two samples, `since`
// and `now` the clock readings of those samples, all in 100-ns units; `processors` is the
// number of processors of the machine. The load is busy x 100 over the whole interval, the
// division truncating toward zero, not divided by the processors (two busy ones show 200).
// Nothing when the interval is not positive: the cell keeps its text. Never below 0 nor above
// 100 x processors.
std::optional<std::int32_t> LoadPercent(std::int64_t busy, std::uint64_t since, std::uint64_t now,
                                        unsigned processors);
