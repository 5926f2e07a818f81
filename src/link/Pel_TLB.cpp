#include "Pel_TLB.h"

namespace pelmbus {

TAutoPel::TAutoPel() : TAutoPel(MakeAutomationBackend()) {}

TAutoPel::TAutoPel(std::unique_ptr<AutomationBackend> backend)
    : TAutomationObject(AutoPelIdentifiers, std::move(backend)) {}

} // namespace pelmbus
