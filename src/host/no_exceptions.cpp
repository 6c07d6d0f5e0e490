// The host is built without exceptions, and the few throws of the C++ library
// (a failed allocation, a string too long) and its failed bounds checks end the
// process here instead. Defining them keeps libstdc++'s exception machinery out of the exe,
// and with it the thread library that machinery needs, which imports from
// Windows Vista's kernel32 and would stop the host from loading on XP.
#include <cstddef>
#include <cstdlib>
#include <new>

void* operator new(std::size_t size)
{
    void* memory = std::malloc(size ? size : 1);
    if (!memory)
        std::abort();
    return memory;
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace std {

[[noreturn]] void __glibcxx_assert_fail(const char*, int, const char*, const char*) noexcept { abort(); }

[[noreturn]] void __throw_bad_alloc() { abort(); }
[[noreturn]] void __throw_bad_array_new_length() { abort(); }
[[noreturn]] void __throw_bad_cast() { abort(); }
[[noreturn]] void __throw_bad_exception() { abort(); }
[[noreturn]] void __throw_bad_function_call() { abort(); }
[[noreturn]] void __throw_bad_typeid() { abort(); }
[[noreturn]] void __throw_domain_error(const char*) { abort(); }
[[noreturn]] void __throw_invalid_argument(const char*) { abort(); }
[[noreturn]] void __throw_length_error(const char*) { abort(); }
[[noreturn]] void __throw_logic_error(const char*) { abort(); }
[[noreturn]] void __throw_out_of_range(const char*) { abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { abort(); }
[[noreturn]] void __throw_overflow_error(const char*) { abort(); }
[[noreturn]] void __throw_range_error(const char*) { abort(); }
[[noreturn]] void __throw_runtime_error(const char*) { abort(); }
[[noreturn]] void __throw_underflow_error(const char*) { abort(); }

}  // namespace std
