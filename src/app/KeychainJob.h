#pragma once

namespace QKeychain {
class Job;
}

// How long a secret-service job may take before the stores give up on it.
constexpr int kKeychainWaitMs = 10000;

// Runs a secret-service job to its end, or gives up after kKeychainWaitMs. True when it
// succeeded. The job is not deleted.
bool runKeychainJob(QKeychain::Job& job);
