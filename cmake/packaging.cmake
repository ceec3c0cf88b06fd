# Installation and packages for Linux: a .deb and a tarball from one Release build.
#
#   cmake --install build                      bin/, share/man/man1/, share/doc/cuda-bandwidth/
#   cpack --config build/CPackConfig.cmake     cuda-bandwidth_1.1.0_amd64.deb and
#                                              cuda-bandwidth-1.1.0-Linux-x86_64.tar.gz
#
# The tarball carries the README and the LICENSE; the .deb carries what Debian asks for in their
# place (a machine-readable copyright file and a changelog).

set(CUDA_BANDWIDTH_DOC_DIR share/doc/cuda-bandwidth)
set(CPACK_PACKAGE_VERSION "${CUDA_BANDWIDTH_VERSION}.0")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "cuda-bandwidth authors <cuda-bandwidth@example.org>")

find_program(GZIP_PROGRAM gzip REQUIRED)

# The manual page and the changelog, versioned from project() and compressed as Debian wants.
configure_file(man/cuda-bandwidth.1.in man/cuda-bandwidth.1 @ONLY)
configure_file(packaging/changelog.in packaging/changelog @ONLY)
foreach(plain man/cuda-bandwidth.1 packaging/changelog)
    add_custom_command(OUTPUT ${plain}.gz
        COMMAND ${GZIP_PROGRAM} -9nf -k ${plain}
        DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${plain}
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        COMMENT "Compressing ${plain}")
endforeach()
add_custom_target(compressed_documents ALL
    DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/man/cuda-bandwidth.1.gz
            ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)

# groff prints nothing for a page it reads without a complaint.
find_program(GROFF_PROGRAM groff)
if(GROFF_PROGRAM AND BUILD_TESTING)
    add_test(NAME manual_page_is_clean
        COMMAND ${GROFF_PROGRAM} -man -ww -z ${CMAKE_CURRENT_BINARY_DIR}/man/cuda-bandwidth.1)
    set_tests_properties(manual_page_is_clean PROPERTIES FAIL_REGULAR_EXPRESSION ".")
endif()

install(TARGETS cuda-bandwidth RUNTIME DESTINATION bin COMPONENT program)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/cuda-bandwidth.1.gz
    DESTINATION share/man/man1 COMPONENT program)
install(FILES README.md LICENSE DESTINATION ${CUDA_BANDWIDTH_DOC_DIR} COMPONENT documents)
install(FILES packaging/copyright ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${CUDA_BANDWIDTH_DOC_DIR} COMPONENT debian_documents EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME cuda-bandwidth)
set(CPACK_PACKAGE_VENDOR "the cuda-bandwidth authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "memory copy bandwidth benchmark for CUDA GPUs")
set(CPACK_PACKAGE_FILE_NAME
    "cuda-bandwidth-${CPACK_PACKAGE_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/cpack_components.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; CPack indents these lines and turns the
# empty one into the paragraph break.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "For every CUDA GPU in the machine, cuda-bandwidth times 100 copies of a
100 MB block host to device, device to host, host to host and device to
device, then host to device and back again with page-locked memory, and
prints a plain-text report of each test's mean bandwidth in GB/s.

It needs an NVIDIA GPU and the NVIDIA driver: a build with CUDA 13 needs a
driver of the 580 series or newer. The CUDA runtime is built in.")

include(CPack)
