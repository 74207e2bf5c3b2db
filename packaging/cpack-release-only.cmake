# Read by cpack: a package holds only a build for /usr without the tests' hooks.
if(NOT CPACK_QUAYSTONE_RELEASE_BUILD)
    message(FATAL_ERROR "This build is not for the package (it needs -DCMAKE_INSTALL_PREFIX=/usr and "
        "-DQUAYSTONE_BUILD_TESTS=OFF): build the package with scripts/build-package.sh")
endif()
