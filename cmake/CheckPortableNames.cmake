# Fails when a C++ source names something that only Linux or glibc has, or that
# macOS spells differently, outside the two files that keep such differences
# behind #if: src/jcompat/Platform.cpp and tests/testsupport/TestPlatform.cpp.
# Registered with CTest; by hand: cmake -DSOURCE_DIR=<repository> -P cmake/CheckPortableNames.cmake

set(linux_only_names
  # file times and descriptors
  st_atim st_mtim st_ctim pipe2 dup3 accept4 posix_fadvise posix_fallocate fallocate O_DIRECT O_PATH O_TMPFILE
  # threads, processes and the system
  pthread_getattr_np pthread_setname_np pthread_setaffinity_np pthread_getaffinity_np sched_getaffinity
  sched_setaffinity gettid prctl get_nprocs sysinfo getauxval secure_getenv program_invocation_name
  RUSAGE_THREAD ru_maxrss __linux__ __GLIBC__
  # number reading bound to a locale (on macOS from <xlocale.h>)
  strtod_l strtof_l strtold_l newlocale uselocale freelocale duplocale
  # memory and string extensions
  memrchr rawmemchr strchrnul mempcpy mremap MAP_POPULATE malloc_usable_size malloc_trim mallinfo mallinfo2
  # event interfaces
  epoll_create epoll_create1 epoll_ctl epoll_wait eventfd inotify_init inotify_init1 signalfd timerfd_create)
set(linux_only_texts
  "/proc/" "<linux/" "<malloc\\.h>" "<endian\\.h>" "<byteswap\\.h>" "<sys/sysinfo\\.h>" "<sys/prctl\\.h>"
  "<sys/epoll\\.h>" "<sys/inotify\\.h>" "<sys/eventfd\\.h>")
set(platform_files src/jcompat/Platform.cpp tests/testsupport/TestPlatform.cpp)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=<repository> -P CheckPortableNames.cmake")
endif()

# CMake's expressions allow few groups: one alternation for the names, checked
# one by one only in the files where some name occurs.
set(before "(^|[^A-Za-z0-9_])")
set(after "([^A-Za-z0-9_]|$)")
list(JOIN linux_only_names "|" any_name)
list(JOIN linux_only_texts "|" any_text)

file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h
  ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h
  ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/bench/*.h
  ${SOURCE_DIR}/demo/*.cpp ${SOURCE_DIR}/demo/*.h)
list(REMOVE_ITEM sources ${platform_files})

set(findings)
foreach(source IN LISTS sources)
  file(READ ${SOURCE_DIR}/${source} text)
  if(text MATCHES "${before}(${any_name})${after}")
    foreach(name IN LISTS linux_only_names)
      if(text MATCHES "${before}${name}${after}")
        list(APPEND findings "  ${source}: ${name}")
      endif()
    endforeach()
  endif()
  if(text MATCHES "${any_text}")
    foreach(pattern IN LISTS linux_only_texts)
      if(text MATCHES "${pattern}")
        string(REPLACE "\\" "" shown "${pattern}")
        list(APPEND findings "  ${source}: ${shown}")
      endif()
    endforeach()
  endif()
endforeach()

list(LENGTH sources scanned)
if(findings)
  list(JOIN findings "\n" report)
  list(JOIN platform_files " and " allowed)
  message(FATAL_ERROR "Linux-only names outside ${allowed}:\n${report}\n"
    "Keep what differs between Linux and macOS in those files, behind #if defined(__APPLE__).")
endif()
message(STATUS "${scanned} sources name nothing Linux-only")
