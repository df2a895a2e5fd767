# Builds for the AArch64 board on an x86-64 Debian 12 PC with Debian's cross
# compiler (crossbuild-essential-arm64); test binaries run under qemu-user.
#
# AARCH64_TARGET_ROOT: a tree holding the board's OpenCV, GoogleTest and
# run-time libraries (scripts/aarch64_root.sh unpacks Debian's arm64 packages
# there). Left empty, they are taken from the system's own arm64 multiarch
# directories.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

if(NOT DEFINED AARCH64_TARGET_ROOT)
  set(AARCH64_TARGET_ROOT "$ENV{AARCH64_TARGET_ROOT}")
endif()
# try_compile projects read this file again but see only listed variables.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES AARCH64_TARGET_ROOT)

# Build tools (python for the fixture models) come from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

if(AARCH64_TARGET_ROOT)
  set(CMAKE_FIND_ROOT_PATH ${AARCH64_TARGET_ROOT})
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  # The linker looks for the dependencies of OpenCV's shared libraries there;
  # the cross compiler's own glibc and libstdc++ stay the ones linked against.
  foreach(dir usr/lib/aarch64-linux-gnu lib/aarch64-linux-gnu usr/lib)
    string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-rpath-link,${AARCH64_TARGET_ROOT}/${dir}")
    string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,-rpath-link,${AARCH64_TARGET_ROOT}/${dir}")
  endforeach()
  # -L: the dynamic loader and every library come from the tree.
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L ${AARCH64_TARGET_ROOT})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static)
endif()
