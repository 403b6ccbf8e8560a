// Prints what LoadCryptXml() and CheckSignature() give in the folder this
// program runs from, one value a line: the load result, the error code and
// the error text.
#include <cstdio>

#include "crypt_xml_api.h"
#include "signature.h"
#include "text.h"

int main() {
    const DWORD loaded = LoadCryptXml();
    OperationError error;
    const bool checked = CheckSignature(L"version_info.xml", error);
    std::printf("%lu\n%lu\n%s\n%d\n", static_cast<unsigned long>(loaded),
                static_cast<unsigned long>(error.code), narrow(error.text).c_str(), checked ? 1 : 0);
    return 0;
}
