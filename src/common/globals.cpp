#include "launch_state.h"
#include "settings.h"

DeploymentSettings& settings() {
    static DeploymentSettings instance;
    return instance;
}

LaunchState& launch_state() {
    static LaunchState instance;
    return instance;
}
