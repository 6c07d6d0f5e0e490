// The host start baseline: the least a native-messaging host can be. A static
// console program that reads one framed message and at once replies with a
// message the size of the host's first, then ends. With WITH_USER32 it also
// loads USER32, as the host must (it hands Halvane the foreground).
#include <windows.h>

static bool ReadFully(HANDLE in, char* buffer, DWORD size)
{
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(in, buffer, size, &got, nullptr) || got == 0)
            return false;
        buffer += got;
        size -= got;
    }
    return true;
}

int wmain()
{
#ifdef WITH_USER32
    GetSystemMetrics(SM_CXSCREEN);
#endif
    static char body[64 * 1024];
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD length = 0;
    if (!ReadFully(in, reinterpret_cast<char*>(&length), 4) || length > sizeof(body) || !ReadFully(in, body, length))
        return 1;
    static const char reply[] = "\x1e\0\0\0{\"event\":\"started\",\"pid\":1234}";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), reply, sizeof(reply) - 1, &written, nullptr);
    return 0;
}
