# cpack: a Debian package and a .tar.gz of what cmake --install puts in
# place, for the architecture the build is for (cross builds included).
set(PLATEBENCH_PACKAGE_MAINTAINER "platebench maintainers <maintainers@users.noreply.c-seed-77f6fbc1.example>"
    CACHE STRING "Maintainer field of the packages: Name <address>")
set(PLATEBENCH_PACKAGE_HOMEPAGE "" CACHE STRING "Homepage field of the packages (left out when empty)")

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
  set(platebench_deb_arch arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64|AMD64)$")
  set(platebench_deb_arch amd64)
else()
  string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" platebench_deb_arch)
endif()

# The board build is its own package: same files, other runtime library.
if(PLATEBENCH_VENDOR_RKNN)
  set(CPACK_PACKAGE_NAME platebench-rknn)
  set(CPACK_DEBIAN_PACKAGE_CONFLICTS platebench)
  set(CPACK_DEBIAN_PACKAGE_REPLACES platebench)
  set(CPACK_DEBIAN_PACKAGE_PROVIDES platebench)
  set(platebench_runtime_text "This build runs its models through the NPU vendor's runtime library\n(librknnrt.so), which the board provides; it is not in this package.")
else()
  set(CPACK_PACKAGE_NAME platebench)
  set(platebench_runtime_text "This build runs its models on the CPU, through OpenCV's dnn module.")
endif()

set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${PLATEBENCH_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Debian shows the description as it stands: lines under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "platebench reads Japanese vehicle licence plates from still images: a case
list in; per-image records, debug pictures, frame and group tables and a
final report out, from four compiled neural models.
${platebench_runtime_text}

cornercheck inspects the plate-corner stage on one picture; platereport turns
a platebench output folder into an HTML report. The reference models, word
lists and synthetic sample sets are in share/platebench.")
if(PLATEBENCH_PACKAGE_HOMEPAGE)
  set(CPACK_PACKAGE_HOMEPAGE_URL "${PLATEBENCH_PACKAGE_HOMEPAGE}")
endif()
set(CPACK_SYSTEM_NAME linux-${platebench_deb_arch})
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${platebench_deb_arch})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# plateshard starts its shards with GNU parallel; over ssh it also needs the
# ssh client and rsync. Only the library dependencies can be computed.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "parallel")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "openssh-client, rsync")

# dpkg-shlibdeps must look at the target's libraries: those of the tree the
# toolchain links against, and the vendor's SDK, which belongs to no package
# and so adds no dependency.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)
if(CMAKE_CROSSCOMPILING)
  foreach(root IN LISTS CMAKE_FIND_ROOT_PATH)
    list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
         ${root}/lib/${CMAKE_LIBRARY_ARCHITECTURE} ${root}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
  endforeach()
endif()
if(PLATEBENCH_VENDOR_RKNN)
  get_filename_component(rknn_sdk_lib_dir "${RKNN_SDK_LIBRARY}" DIRECTORY)
  list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${rknn_sdk_lib_dir})
endif()

# A tree unpacked with dpkg-deb -x has no dpkg database of its own;
# scripts/aarch64_dpkg_db.sh writes one beside it.
set(platebench_admindir_default "")
if(CMAKE_CROSSCOMPILING AND AARCH64_TARGET_ROOT)
  set(platebench_admindir_default "${AARCH64_TARGET_ROOT}.dpkg")
endif()
set(PLATEBENCH_SHLIBDEPS_ADMINDIR "${platebench_admindir_default}" CACHE PATH
    "dpkg database that owns the target's libraries, for dpkg-shlibdeps (empty: this machine's)")

if(CMAKE_CROSSCOMPILING)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/cpack_cross.cmake.in ${CMAKE_BINARY_DIR}/cpack_cross.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/cpack_cross.cmake)
endif()

include(CPack)
