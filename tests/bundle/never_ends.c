/* A test program that never ends: bundle_test.sh puts it in a program's place,
   and run-tests.cmd must end it at its time limit and go on. */
#include <windows.h>

int main(void)
{
    Sleep(INFINITE);
    return 0;
}
