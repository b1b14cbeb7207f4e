# The kernel as one shared library for other programs (vetra_kernel: every
# kernel folder behind the one public header include/vetra/vetra_kernel.h),
# the vetra-convert program over it, and their installation with a CMake
# package (find_package(VetraKernel), target Vetra::vetra_kernel) and a
# pkg-config file (vetra-kernel).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(VETRA_KERNEL_FOLDERS vetra_api vetra_convert vetra_userdict vetra_lexicon vetra_storage vetra_runtime)
add_library(vetra_kernel SHARED "${PROJECT_SOURCE_DIR}/include/vetra/vetra_kernel.h")
set_target_properties(vetra_kernel PROPERTIES LINKER_LANGUAGE CXX VERSION ${PROJECT_VERSION}
                                              SOVERSION ${PROJECT_VERSION_MAJOR})
# Every object of the folders, so that the whole entry API is in the library.
# (The folders link each other, which CMake's whole-archive feature refuses.)
set(VETRA_KERNEL_ARCHIVES "")
foreach(folder ${VETRA_KERNEL_FOLDERS})
  list(APPEND VETRA_KERNEL_ARCHIVES "$<TARGET_FILE:${folder}>")
endforeach()
add_dependencies(vetra_kernel ${VETRA_KERNEL_FOLDERS})
target_link_libraries(vetra_kernel PRIVATE -Wl,--whole-archive ${VETRA_KERNEL_ARCHIVES} -Wl,--no-whole-archive)
set_property(TARGET vetra_kernel APPEND PROPERTY LINK_DEPENDS ${VETRA_KERNEL_ARCHIVES})
# Only the public header's functions are exported (vetra_kernel.map); the
# tests and tools link the folders' static libraries instead.
set(VETRA_KERNEL_MAP "${PROJECT_SOURCE_DIR}/cmake/vetra_kernel.map")
target_link_options(vetra_kernel PRIVATE "-Wl,--version-script=${VETRA_KERNEL_MAP}")
set_property(TARGET vetra_kernel APPEND PROPERTY LINK_DEPENDS "${VETRA_KERNEL_MAP}")
target_include_directories(vetra_kernel PUBLIC "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>"
                                               "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")

# The build's own system data, which vetra-convert uses when run from here.
if(VETRA_DATA_BUILD_DIR)
  get_filename_component(VETRA_BUILT_SYSTEM_DIR "${VETRA_DATA_BUILD_DIR}/data/VetraInput" ABSOLUTE)
elseif(VETRA_BUILD_DATA)
  set(VETRA_BUILT_SYSTEM_DIR "${CMAKE_BINARY_DIR}/data/VetraInput")
else()
  set(VETRA_BUILT_SYSTEM_DIR "")
endif()

# The checks of the data and user folders are the input method's own.
add_executable(vetra-convert "${PROJECT_SOURCE_DIR}/src/cli/vetra_convert.cpp"
                             "${PROJECT_SOURCE_DIR}/src/engine/start_folders.cpp")
target_include_directories(vetra-convert PRIVATE "${PROJECT_SOURCE_DIR}")
target_link_libraries(vetra-convert PRIVATE vetra_kernel)
target_compile_definitions(vetra-convert PRIVATE
  "VETRA_CLI_BUILD_DIR=\"${CMAKE_CURRENT_BINARY_DIR}\""
  "VETRA_CLI_BUILD_DATA=\"${VETRA_BUILT_SYSTEM_DIR}\""
  "VETRA_CLI_INSTALL_PREFIX=\"${CMAKE_INSTALL_PREFIX}\""
  "VETRA_CLI_INSTALLED_DATA=\"share/fcitx-vetrapinyin/VetraInput\"")
set_target_properties(vetra-convert PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

# Everything of the library and the converter is the "kernel" component: a
# plain install has it, the Debian package of the input method leaves it out
# (the addon carries its own copy of the kernel).
install(TARGETS vetra_kernel EXPORT VetraKernelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT kernel
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS vetra-convert RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kernel)
install(FILES "${PROJECT_SOURCE_DIR}/include/vetra/vetra_kernel.h" DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vetra
        COMPONENT kernel)
set(VETRA_KERNEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VetraKernel)
install(EXPORT VetraKernelTargets NAMESPACE Vetra:: DESTINATION ${VETRA_KERNEL_CMAKE_DIR} COMPONENT kernel)
configure_package_config_file("${PROJECT_SOURCE_DIR}/cmake/VetraKernelConfig.cmake.in"
                              "${PROJECT_BINARY_DIR}/VetraKernelConfig.cmake"
                              INSTALL_DESTINATION ${VETRA_KERNEL_CMAKE_DIR})
write_basic_package_version_file("${PROJECT_BINARY_DIR}/VetraKernelConfigVersion.cmake"
                                 COMPATIBILITY SameMinorVersion)
install(FILES "${PROJECT_BINARY_DIR}/VetraKernelConfig.cmake" "${PROJECT_BINARY_DIR}/VetraKernelConfigVersion.cmake"
        DESTINATION ${VETRA_KERNEL_CMAKE_DIR} COMPONENT kernel)
# The .pc file finds its prefix from where it lies, so a moved tree works.
file(RELATIVE_PATH VETRA_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" VETRA_PC_TO_PREFIX "${VETRA_PC_TO_PREFIX}")
configure_file("${PROJECT_SOURCE_DIR}/cmake/vetra-kernel.pc.in" "${PROJECT_BINARY_DIR}/vetra-kernel.pc" @ONLY)
install(FILES "${PROJECT_BINARY_DIR}/vetra-kernel.pc" DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT kernel)
