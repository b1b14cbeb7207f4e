// Deployment values of the cloud client: built-in defaults from the build's
// cache values, each overridable by an environment variable read when the
// cloud starts. Any thread (reads the environment).
#pragma once

#include <string>

namespace n_cloud {

struct t_cloudConfig {
    std::string gatewayHost;   // resolved and connected to; empty: the cloud is off
    std::string gatewayPort;   // "80" when not configured
    std::string endpointHost;  // the "Host" of the sealed request
    std::string serverHost;    // sealed into the inner address
    std::string rsaModulus;    // 256 hexadecimal digits of the servers' public key
};

// The built-in values, each replaced by its environment variable when that is
// set: VETRA_CLOUD_GATEWAY_HOST, VETRA_CLOUD_GATEWAY_PORT,
// VETRA_CLOUD_ENDPOINT_HOST, VETRA_CLOUD_SERVER_HOST, VETRA_CLOUD_RSA_MODULUS.
t_cloudConfig ReadCloudConfig();

}  // namespace n_cloud
