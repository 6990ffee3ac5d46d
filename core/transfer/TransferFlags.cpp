#include "TransferFlags.h"

namespace tallowdesk {

std::atomic<bool> transferBusy{false};
std::atomic<bool> transferCancel{false};
std::atomic<int> exportsRunning{0};

}  // namespace tallowdesk
