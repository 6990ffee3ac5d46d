#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string>

namespace tallowdesk::shell {

// Figures a person reads at a glance, beside the fixed texts of the list and
// the transfer window: how far the current file is, how long it still takes,
// and a byte count in the locale's units. Plain functions, any thread.

// "42% done, 3 min 05 s left"; the percentage alone while the rate is 0;
// empty when the size is unknown (0). Never claims 100% before the last byte.
QString ProgressFiguresText(std::uint64_t bytesDone, std::uint64_t bytesTotal,
                            std::uint64_t rateBytesPerMs);

// "45 s", "3 min 05 s", "2 h 07 min".
QString DurationText(std::uint64_t seconds);

// A size in the locale's units and digit grouping with the exact count:
// "1.15 MB (1,203,000 bytes)"; empty when there is no size.
QString HumanSizeText(const std::optional<std::string>& quotaBytesUsed);

}  // namespace tallowdesk::shell
