// lista's crypto on Linux: OpenSSL's libcrypto (Debian's libssl-dev), through
// its version 3 interfaces.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstdio>
#include <cstdlib>

#include "crypto.h"

namespace {

bool Fail(const char *what) {
    unsigned long e = ERR_get_error();
    char why[256] = "";
    if (e) ERR_error_string_n(e, why, sizeof why);
    fprintf(stderr, "lista: libcrypto: %s failed%s%s\n", what, *why ? ": " : "", why);
    return false;
}

std::string Bytes(const BIGNUM *n) {
    unsigned char b[32];
    if (BN_bn2binpad(n, b, sizeof b) != (int)sizeof b) return "";
    return std::string((const char *)b, sizeof b);
}

// A P-256 key from its raw parts; with d a key pair, without it a public key.
EVP_PKEY *Load(const EcKey &k) {
    EVP_PKEY *key = nullptr;
    std::string point = "\x04" + k.xy;  // the uncompressed encoding
    BIGNUM *d = k.d.empty() ? nullptr : BN_bin2bn((const unsigned char *)k.d.data(), (int)k.d.size(), nullptr);
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM *params = nullptr;
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    if (bld && ctx && k.xy.size() == 64 && (k.d.empty() || (d && k.d.size() == 32)) &&
        OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) &&
        OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) &&
        (!d || OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, d)) &&
        (params = OSSL_PARAM_BLD_to_param(bld)) && EVP_PKEY_fromdata_init(ctx) > 0)
        EVP_PKEY_fromdata(ctx, &key, d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_clear_free(d);
    return key;
}

}  // namespace

Md5::Md5() : impl_(EVP_MD_CTX_new()) {
    if (!impl_ || EVP_DigestInit_ex((EVP_MD_CTX *)impl_, EVP_md5(), nullptr) != 1) {
        Fail("MD5");
        exit(2);  // never a wrong digest in a manifest
    }
}

Md5::~Md5() { EVP_MD_CTX_free((EVP_MD_CTX *)impl_); }

void Md5::Update(const void *data, size_t n) {
    if (EVP_DigestUpdate((EVP_MD_CTX *)impl_, data, n) != 1) {
        Fail("MD5");
        exit(2);
    }
}

std::string Md5::HexDigest() {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    if (EVP_DigestFinal_ex((EVP_MD_CTX *)impl_, d, &n) != 1 || n != 16) {
        Fail("MD5");
        exit(2);
    }
    return Hex(std::string((const char *)d, n));
}

bool Sha256(const std::string &data, std::string &digest) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    if (EVP_Digest(data.data(), data.size(), d, &n, EVP_sha256(), nullptr) != 1 || n != 32)
        return Fail("SHA-256");
    digest.assign((const char *)d, n);
    return true;
}

bool NewKey(EcKey &k) {
    EVP_PKEY *key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    if (!key) return Fail("key generation");
    unsigned char point[65];
    size_t len = 0;
    BIGNUM *d = nullptr;
    bool ok = EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &len) &&
              len == 65 && point[0] == 4 && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d);
    if (ok) {
        k.xy.assign((const char *)point + 1, 64);
        k.d = Bytes(d);
        ok = k.d.size() == 32;
    }
    BN_clear_free(d);
    EVP_PKEY_free(key);
    return ok || Fail("key export");
}

bool SignDigest(const EcKey &k, const std::string &digest, std::string &rs) {
    EVP_PKEY *key = Load(k);
    if (!key) return Fail("loading the private key");
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    unsigned char der[128];
    size_t len = sizeof der;
    bool ok = ctx && EVP_PKEY_sign_init(ctx) > 0 && EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) > 0 &&
              EVP_PKEY_sign(ctx, der, &len, (const unsigned char *)digest.data(), digest.size()) > 0;
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    if (!ok) return Fail("signing");
    // libcrypto gives DER; the launcher takes r and s as they are.
    const unsigned char *p = der;
    ECDSA_SIG *sig = d2i_ECDSA_SIG(nullptr, &p, (long)len);
    if (!sig) return Fail("reading the signature");
    rs = Bytes(ECDSA_SIG_get0_r(sig)) + Bytes(ECDSA_SIG_get0_s(sig));
    ECDSA_SIG_free(sig);
    return rs.size() == 64 || Fail("reading the signature");
}

bool VerifyDigest(const EcKey &k, const std::string &digest, const std::string &rs) {
    if (rs.size() != 64) return false;
    EcKey pub{k.xy, ""};
    EVP_PKEY *key = Load(pub);
    if (!key) return false;
    ECDSA_SIG *sig = ECDSA_SIG_new();
    BIGNUM *r = BN_bin2bn((const unsigned char *)rs.data(), 32, nullptr);
    BIGNUM *s = BN_bin2bn((const unsigned char *)rs.data() + 32, 32, nullptr);
    unsigned char *der = nullptr;
    int len = 0;
    if (sig && r && s && ECDSA_SIG_set0(sig, r, s)) {
        r = s = nullptr;  // now the signature's
        len = i2d_ECDSA_SIG(sig, &der);
    }
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    bool ok = len > 0 && ctx && EVP_PKEY_verify_init(ctx) > 0 &&
              EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) > 0 &&
              EVP_PKEY_verify(ctx, der, (size_t)len, (const unsigned char *)digest.data(), digest.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    OPENSSL_free(der);
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(sig);
    EVP_PKEY_free(key);
    ERR_clear_error();
    return ok;
}
