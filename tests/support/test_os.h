// What the tests need from the operating system beyond the programs' own (apps/app_os): the
// process's processor time and whether Wine runs the test. One unit per system: test_os_linux.cpp,
// test_os_win32.cpp.
#ifndef VEK_TESTS_SUPPORT_TEST_OS_H
#define VEK_TESTS_SUPPORT_TEST_OS_H

#include <cstddef>
#include <string>

namespace test_os {

// A pointer as the C library's printf writes it with %p (glibc: "(nil)" for a null pointer; Windows:
// 16 hexadecimal digits).
std::string pointer_text(const void *pointer);

// Processor time of the whole process so far, user and system, in seconds.
double process_cpu_seconds();

// True when the test runs under Wine, which emulates Windows with some gaps.
bool under_wine();

// The calling thread's identifier, and how often the thread of that identifier has gone to sleep so
// far (its voluntary context switches); -1 where the system does not count them (Windows).
long current_thread_id();
long thread_sleeps(long thread_id);

// The threads of this process now.
size_t thread_count();

// Lets the process hold at least `wanted` open descriptors (Linux: raises the soft limit as far as
// the hard limit allows; Windows has no such limit on sockets).
void make_room_for_descriptors(unsigned long wanted);

}  // namespace test_os

#endif
