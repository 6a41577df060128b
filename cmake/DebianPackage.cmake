# The Debian package of the command-line tool, velmorcrypt-cli_<version>_amd64.deb:
# `cpack -G DEB` in the package preset's tree (scripts/release.sh). It holds
# what the tool's install rules install (the tool, its manual page, its bash
# completion) and, where Debian's policy wants them, the licence as
# /usr/share/doc/velmorcrypt-cli/copyright and a changelog.
set(VM_DEB_DOC ${CMAKE_INSTALL_DATAROOTDIR}/doc/velmorcrypt-cli)
set(VM_DEB_MAINTAINER "Kestrane <velmorcrypt@kestrane.example>")

# The licence in the machine-readable copyright format: each line indented,
# blank lines as " .".
file(READ ${CMAKE_SOURCE_DIR}/LICENSE VM_LICENSE)
string(REGEX REPLACE "^MIT License\n\n" "" VM_LICENSE "${VM_LICENSE}")
string(REGEX REPLACE "\n+$" "" VM_LICENSE "${VM_LICENSE}")
string(REPLACE "\n\n" "\n.\n" VM_LICENSE "${VM_LICENSE}")
string(REPLACE "\n" "\n " VM_LICENSE " ${VM_LICENSE}")
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${VM_LICENSE}")
file(WRITE ${CMAKE_BINARY_DIR}/debian/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: Velmorcrypt Vozeri\n\n"
  "Files: *\nCopyright: ${CMAKE_MATCH_1}\nLicense: Expat\n${VM_LICENSE}\n")

string(TIMESTAMP VM_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CMAKE_BINARY_DIR}/debian/changelog
  "velmorcrypt-cli (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Velmorcrypt Vozeri ${PROJECT_VERSION}.\n\n"
  " -- ${VM_DEB_MAINTAINER}  ${VM_DEB_DATE}\n")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/debian/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog)
add_custom_target(vm_debian_files ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
        DESTINATION ${VM_DEB_DOC})

set(CPACK_PACKAGE_NAME velmorcrypt-cli)
set(CPACK_PACKAGE_VENDOR Kestrane)
set(CPACK_PACKAGE_CONTACT ${VM_DEB_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.kestrane.example/velmorcrypt)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the tool links (libc, libstdc++, libfuse3, ...) come
# from dpkg-shlibdeps; fusermount3 mounts for an ordinary user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS fuse3)
# The file-system tools that `mount` drives and that format a volume's disk.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dosfstools, e2fsprogs, fuse2fs, exfatprogs, exfat-fuse, ntfs-3g")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS mtools)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "create, inspect and mount encrypted Velmorcrypt volumes
A Velmorcrypt volume is one file holding an encrypted disk image and a
password-sealed header (or the header apart, in an external header block).
velmorcrypt-cli creates volumes with AES or Blowfish, shows their header,
changes passwords, saves and restores headers, and mounts a volume's
decrypted disk through FUSE, handing it to the usual file-system tools.
Volumes are the same as those of the Velmorcrypt Vozeri program for Windows.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
