#include "FormHost.h"

#include "SystemServices.h"

namespace pelmbus {

TLocalDateTime TFormHost::Now() {
    return LocalNow();
}

} // namespace pelmbus
