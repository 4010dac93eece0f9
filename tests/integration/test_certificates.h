#pragma once
// Throwaway TLS certificates (tools/make_test_certificates.py) and their CA
// trusted in the Wine prefix, shared by every test that speaks TLS.

#include <windows.h>
#include <wincrypt.h>

#include <string>

namespace corvane::integration {

// A fresh /tmp folder holding the CA and the server certificates, removed
// with the object. Every server certificate shares key().
class TestCertificates {
public:
    TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;
    ~TestCertificates();

    // For localhost, from the CA.
    std::string cert() const { return folder_ + "/server.pem"; }
    std::string key() const { return folder_ + "/server.key"; }
    // From the CA, for a DNS name that is not localhost.
    std::string wrong_name_cert() const { return folder_ + "/wrong-name.pem"; }
    // From the CA, for localhost, no longer valid.
    std::string expired_cert() const { return folder_ + "/expired.pem"; }
    // For localhost, from a CA found nowhere but in this chain.
    std::string untrusted_cert() const { return folder_ + "/untrusted.pem"; }
    const std::string& ca_der() const { return ca_der_; }

private:
    std::string folder_;
    std::string ca_der_;
};

// The CA trusted by the whole prefix for this object's lifetime; the prefix
// is left as found.
class TrustedRoot {
public:
    explicit TrustedRoot(const std::string& der);
    TrustedRoot(const TrustedRoot&) = delete;
    TrustedRoot& operator=(const TrustedRoot&) = delete;
    ~TrustedRoot();

private:
    PCCERT_CONTEXT added_ = nullptr;
};

bool machine_root_store_holds(const std::string& der);

// Wine's chain engine reads the ROOT store at its first use in a process
// only: a CA added later is never trusted, one removed stays trusted. So
// every test of the process trusts this one CA, before the first check.
const TestCertificates& process_certificates();

}  // namespace corvane::integration
