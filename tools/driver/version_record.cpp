#include "version_record.h"

namespace version_record {

namespace {

const void* Query(const std::vector<BYTE>& data, const std::wstring& path, UINT* length)
{
    void* value = nullptr;
    *length = 0;
    if (data.empty() || !VerQueryValueW(data.data(), path.c_str(), &value, length))
        return nullptr;
    return value;
}

}  // namespace

Record Read(const std::wstring& path)
{
    DWORD ignored = 0;
    Record record{std::vector<BYTE>(GetFileVersionInfoSizeW(path.c_str(), &ignored))};
    if (!record.data.empty() &&
        !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(record.data.size()), record.data.data()))
        record.data.clear();
    return record;
}

const VS_FIXEDFILEINFO* Record::Fixed() const
{
    UINT length = 0;
    const void* value = Query(data, L"\\", &length);
    return length == sizeof(VS_FIXEDFILEINFO) ? static_cast<const VS_FIXEDFILEINFO*>(value) : nullptr;
}

DWORD Record::Translation() const
{
    UINT length = 0;
    const WORD* value = static_cast<const WORD*>(Query(data, L"\\VarFileInfo\\Translation", &length));
    return value && length >= 4 ? MAKELONG(value[0], value[1]) : 0;
}

std::wstring Record::Text(const wchar_t* name) const
{
    UINT length = 0;
    const void* value = Query(data, std::wstring(L"\\StringFileInfo\\040904B0\\") + name, &length);
    return value ? static_cast<const wchar_t*>(value) : L"(none)";
}

}  // namespace version_record
