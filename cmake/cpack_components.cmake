# Read by CPack for each generator: which install components each package holds, and whether the
# files sit in a folder of their own (the tarball's do; a .deb's must not).
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_COMPONENTS_ALL program debian_documents)
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
    set(CPACK_COMPONENTS_ALL program documents)
    set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
