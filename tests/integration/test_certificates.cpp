#include "tests/integration/test_certificates.h"

#include "tests/integration/loopback_servers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>

namespace corvane::integration {
namespace {

struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

Store open_machine_root_store()
{
    Store store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT"));
    if (!store)
        throw std::runtime_error("cannot open the LocalMachine ROOT store: error " + std::to_string(GetLastError()));
    return store;
}

void commit(const Store& store)
{
    // Saved, not just cached in this process: the platform may check the
    // chain through a store of its own.
    if (!CertControlStore(store.get(), 0, CERT_STORE_CTRL_COMMIT, nullptr))
        throw std::runtime_error("cannot commit the ROOT store: error " + std::to_string(GetLastError()));
}

std::string on_drive_z_path(const std::string& unix_path)
{
    return "Z:" + unix_path;
}

}  // namespace

TestCertificates::TestCertificates()
{
    std::random_device random;
    folder_ = "/tmp/corvane-tls-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(random()) +
              std::to_string(random());
    run_python_tool("make_test_certificates.py", {folder_, "--hours", "2"}, folder_ + "/ready");
    std::ifstream in(std::filesystem::path(on_drive_z_path(folder_ + "/ca.der")), std::ios::binary);
    ca_der_.assign(std::istreambuf_iterator<char>(in), {});
    if (ca_der_.empty())
        throw std::runtime_error("no CA certificate in " + folder_);
}

TestCertificates::~TestCertificates()
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(on_drive_z_path(folder_)), ignored);
}

TrustedRoot::TrustedRoot(const std::string& der)
{
    const Store store = open_machine_root_store();
    if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                          static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW, &added_))
        throw std::runtime_error("cannot add the test CA to the ROOT store: error " + std::to_string(GetLastError()));
    commit(store);
}

TrustedRoot::~TrustedRoot()
{
    try {
        const Store store = open_machine_root_store();
        if (PCCERT_CONTEXT found =
                CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, added_, nullptr))
            CertDeleteCertificateFromStore(found);
        commit(store);
    } catch (const std::exception& error) {
        ADD_FAILURE() << "test CA left in the prefix: " << error.what();
    }
    CertFreeCertificateContext(added_);
}

bool machine_root_store_holds(const std::string& der)
{
    const Store store = open_machine_root_store();
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                         static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
    CertFreeCertificateContext(wanted);
    CertFreeCertificateContext(found);
    return found != nullptr;
}

const TestCertificates& process_certificates()
{
    static const TestCertificates certificates;
    return certificates;
}

}  // namespace corvane::integration
