#include "crypt_xml_api.h"

namespace {

// GetProcAddress hands out one generic type; going through void(*)() keeps
// the conversion to the real type free of cast warnings on every compiler.
template <typename Function>
void resolve(HMODULE module, const char* name, Function& slot) {
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

CryptXmlFunctions& crypt_xml() {
    static CryptXmlFunctions table;
    return table;
}

DWORD LoadCryptXml() {
    CryptXmlFunctions& api = crypt_xml();
    // Each load adds a reference that is never given back: the table may be
    // in use until the process ends.
    api.cryptxml = LoadLibraryA("cryptxml.dll");
    if (!api.cryptxml) return ERROR_MOD_NOT_FOUND;
    api.bcrypt = LoadLibraryA("bcrypt.dll");
    if (!api.bcrypt) return ERROR_MOD_NOT_FOUND;
    api.crypt32 = LoadLibraryA("crypt32.dll");
    if (!api.crypt32) return ERROR_MOD_NOT_FOUND;

    resolve(api.cryptxml, "CryptXmlFindAlgorithmInfo", api.CryptXmlFindAlgorithmInfo);
    resolve(api.cryptxml, "CryptXmlOpenToEncode", api.CryptXmlOpenToEncode);
    resolve(api.cryptxml, "CryptXmlCreateReference", api.CryptXmlCreateReference);
    resolve(api.cryptxml, "CryptXmlGetStatus", api.CryptXmlGetStatus);
    resolve(api.cryptxml, "CryptXmlGetReference", api.CryptXmlGetReference);
    resolve(api.cryptxml, "CryptXmlDigestReference", api.CryptXmlDigestReference);
    resolve(api.cryptxml, "CryptXmlSign", api.CryptXmlSign);
    resolve(api.cryptxml, "CryptXmlEncode", api.CryptXmlEncode);
    resolve(api.cryptxml, "CryptXmlClose", api.CryptXmlClose);
    resolve(api.cryptxml, "CryptXmlOpenToDecode", api.CryptXmlOpenToDecode);
    resolve(api.cryptxml, "CryptXmlGetDocContext", api.CryptXmlGetDocContext);
    resolve(api.cryptxml, "CryptXmlVerifySignature", api.CryptXmlVerifySignature);
    resolve(api.cryptxml, "CryptXmlGetSignature", api.CryptXmlGetSignature);

    resolve(api.bcrypt, "BCryptDestroyKey", api.BCryptDestroyKey);

    resolve(api.crypt32, "CertFreeCertificateChain", api.CertFreeCertificateChain);
    resolve(api.crypt32, "CryptFindOIDInfo", api.CryptFindOIDInfo);
    resolve(api.crypt32, "CertCloseStore", api.CertCloseStore);
    resolve(api.crypt32, "CertFreeCertificateContext", api.CertFreeCertificateContext);
    resolve(api.crypt32, "CertGetCertificateChain", api.CertGetCertificateChain);
    resolve(api.crypt32, "CertEnumCertificatesInStore", api.CertEnumCertificatesInStore);
    resolve(api.crypt32, "CryptAcquireCertificatePrivateKey", api.CryptAcquireCertificatePrivateKey);
    resolve(api.crypt32, "CertFindCertificateInStore", api.CertFindCertificateInStore);
    resolve(api.crypt32, "CertOpenStore", api.CertOpenStore);
    resolve(api.crypt32, "CryptImportPublicKeyInfoEx2", api.CryptImportPublicKeyInfoEx2);
    resolve(api.crypt32, "CertCreateCertificateContext", api.CertCreateCertificateContext);
    return 0;
}
