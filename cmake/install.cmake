# What `cmake --install` puts under the prefix: the library with its SONAME
# links, the C header, mox-collect, a CMake package (find_package(mox) gives
# mox::mox) and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS mox EXPORT moxTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES ${CMAKE_SOURCE_DIR}/include/mox.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(TARGETS mox-collect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

set(mox_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/mox)
install(EXPORT moxTargets NAMESPACE mox:: FILE moxTargets.cmake DESTINATION ${mox_cmake_dir}
        COMPONENT development)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/moxConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/moxConfig.cmake INSTALL_DESTINATION ${mox_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/moxConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/moxConfig.cmake ${CMAKE_BINARY_DIR}/moxConfigVersion.cmake
        DESTINATION ${mox_cmake_dir} COMPONENT development)

# The .pc file finds its prefix from where it lies, so an install with
# `--prefix` elsewhere (or a relocated package) stays right.
set(mox_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH mox_pc_to_prefix /${mox_pc_dir} /)
string(REGEX REPLACE "/$" "" mox_pc_to_prefix "${mox_pc_to_prefix}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/mox.pc.in ${CMAKE_BINARY_DIR}/mox.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/mox.pc DESTINATION ${mox_pc_dir} COMPONENT development)
