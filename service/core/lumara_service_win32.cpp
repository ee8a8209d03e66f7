#include <objbase.h>

#include "service/core/lumara_service.h"

namespace zelk {

bool ServiceEnvironment::InitializeServiceCom() {
    return SUCCEEDED(CoInitialize(nullptr));
}

void ServiceEnvironment::UninitializeServiceCom() {
    CoUninitialize();
}

}  // namespace zelk
