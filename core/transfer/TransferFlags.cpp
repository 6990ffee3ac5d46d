#include "TransferFlags.h"

namespace tallowdesk {

std::atomic<bool> transferBusy{false};
std::atomic<bool> transferCancel{false};

}  // namespace tallowdesk
