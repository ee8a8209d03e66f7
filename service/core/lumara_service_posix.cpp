#include "service/core/lumara_service.h"

namespace zelk {

// Nothing here needs COM.
bool ServiceEnvironment::InitializeServiceCom() {
    return true;
}

void ServiceEnvironment::UninitializeServiceCom() {}

}  // namespace zelk
