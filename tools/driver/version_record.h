// A file's version record as Explorer and installers read it: through the
// version API, not from the resource's bytes.
#ifndef HALVANE_VERSION_RECORD_H
#define HALVANE_VERSION_RECORD_H

#include <windows.h>

#include <string>
#include <vector>

namespace version_record {

struct Record {
    std::vector<BYTE> data;  // empty when the file has none

    // The fixed part; null when missing.
    const VS_FIXEDFILEINFO* Fixed() const;
    // The first translation, MAKELONG(language, code page); 0 when none.
    DWORD Translation() const;
    // A value of the US-English Unicode table, such as "ProductVersion"; "(none)" when missing.
    std::wstring Text(const wchar_t* name) const;
};

Record Read(const std::wstring& path);

}  // namespace version_record

#endif
