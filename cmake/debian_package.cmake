# The Debian package of the native build: library, header, host, pkg-config and CMake
# files, the README, the licence and a copyright file, all under /usr.
#   cmake --preset release && cmake --build --preset release
#   cpack --config build/release/CPackConfig.cmake -B out
# scripts/package.sh does this and leaves out/lupex_VERSION_ARCH.deb.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian-copyright DESTINATION ${CMAKE_INSTALL_DOCDIR}
  RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lupex)
set(CPACK_PACKAGE_VENDOR "the lupex authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Blowfish text cipher, password hash and MD5 digest as a plug-in library")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the lupex authors")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The synopsis comes from the summary, the long description from this text.
set(CPACK_PACKAGE_DESCRIPTION
    "liblupex.so answers the procedures blowfish (encrypt, decrypt, encpass), md5 and
dllinfo through one text buffer. The package holds the library, the header lupex.h,
a pkg-config file, a CMake package (find_package(lupex)) and the command-line host
lupex-host.")
# Depends: from the libraries the ELF files link, as dpkg-shlibdeps reads them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
