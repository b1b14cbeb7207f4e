// Built-in deployment values (from the build) with environment overrides.
#include "src/cloud/cloud_config.h"

#include <cstdlib>

#ifndef VETRA_CLOUD_GATEWAY_HOST
#define VETRA_CLOUD_GATEWAY_HOST ""
#endif
#ifndef VETRA_CLOUD_GATEWAY_PORT
#define VETRA_CLOUD_GATEWAY_PORT ""
#endif
#ifndef VETRA_CLOUD_ENDPOINT_HOST
#define VETRA_CLOUD_ENDPOINT_HOST ""
#endif
#ifndef VETRA_CLOUD_SERVER_HOST
#define VETRA_CLOUD_SERVER_HOST ""
#endif
#ifndef VETRA_CLOUD_RSA_MODULUS
#define VETRA_CLOUD_RSA_MODULUS ""
#endif

namespace n_cloud {

namespace {
std::string Value(const char* name, const char* builtIn) {
    const char* v = std::getenv(name);
    return v ? v : builtIn;
}
}  // namespace

t_cloudConfig ReadCloudConfig() {
    t_cloudConfig c;
    c.gatewayHost = Value("VETRA_CLOUD_GATEWAY_HOST", VETRA_CLOUD_GATEWAY_HOST);
    c.gatewayPort = Value("VETRA_CLOUD_GATEWAY_PORT", VETRA_CLOUD_GATEWAY_PORT);
    if (c.gatewayPort.empty()) c.gatewayPort = "80";
    c.endpointHost = Value("VETRA_CLOUD_ENDPOINT_HOST", VETRA_CLOUD_ENDPOINT_HOST);
    c.serverHost = Value("VETRA_CLOUD_SERVER_HOST", VETRA_CLOUD_SERVER_HOST);
    c.rsaModulus = Value("VETRA_CLOUD_RSA_MODULUS", VETRA_CLOUD_RSA_MODULUS);
    return c;
}

}  // namespace n_cloud
