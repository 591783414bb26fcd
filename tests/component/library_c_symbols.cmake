# SPDX-License-Identifier: MIT
# Checks the C-library functions libferrox calls: the system calls it may make, the signal sets
# it builds for them, and the C library's memory and runtime helpers. A call outside this list
# would reach the operating system past the virtual PC.
#   cmake -DNM=nm -DLIBRARY=libferrox.so -P library_c_symbols.cmake
cmake_minimum_required(VERSION 3.25)
set(system_calls open close ioctl fcntl iopl ioperm getpid sigaction pthread_sigmask)
set(signal_sets sigemptyset sigaddset)
set(runtime memcpy memmove memset __errno_location __cxa_atexit __cxa_finalize __stack_chk_fail)

execute_process(COMMAND ${NM} -D --undefined-only ${LIBRARY} OUTPUT_VARIABLE undefined RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} could not read ${LIBRARY}")
endif()
string(REGEX MATCHALL "[A-Za-z0-9_]+@GLIBC_[0-9.]+" from_libc "${undefined}")
set(stray "")
foreach(symbol IN LISTS from_libc)
  string(REGEX REPLACE "@.*" "" name "${symbol}")
  if(NOT name IN_LIST system_calls AND NOT name IN_LIST signal_sets AND NOT name IN_LIST runtime)
    list(APPEND stray ${symbol})
  endif()
endforeach()
if(stray)
  message(FATAL_ERROR "libferrox calls C-library functions outside its list: ${stray}")
endif()
list(LENGTH from_libc count)
message(STATUS "libferrox calls ${count} C-library functions, all on its list")
