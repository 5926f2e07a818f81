#include "CltPel_TLB.h"

namespace pelmbus {

TAutoCltPel::TAutoCltPel() : TAutoCltPel(MakeAutomationBackend()) {}

TAutoCltPel::TAutoCltPel(std::unique_ptr<AutomationBackend> backend)
    : TAutomationObject(AutoCltPelIdentifiers, std::move(backend)) {}

} // namespace pelmbus
